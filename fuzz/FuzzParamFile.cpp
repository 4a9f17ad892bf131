// The parameter file parser on arbitrary text: it never fails but with an
// error naming where; whatever it takes is a set the editors hold, and formats
// into a file that reads back as the same. The first 34 bytes, taken as a
// station's block, also make a copy that reads back exactly.
#include "FuzzCheck.h"

#include "ParamFile.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

using namespace vostrel;

namespace {

void CheckRoundTrip(const TParamFile& file)
{
    const std::string text = FormatParamFile(file);
    TParamFile back;
    TParamFileError error;
    FUZZ_CHECK(ParseParamFile(text, back, error));
    FUZZ_CHECK(back == file);
    FUZZ_CHECK(FormatParamFile(back) == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TParamFile file;
    TParamFileError error;
    if (ParseParamFile(text, file, error)) {
        FUZZ_CHECK(CheckEditorLimits(file.Set, error));
        if (file.Raw)
            FUZZ_CHECK(ShownSet(*file.Raw, file.Set) == file.Set);
        CheckRoundTrip(file);
        TNullLog log;
        FUZZ_CHECK(ProgrammingBlock(file.Set, log).size() == static_cast<std::size_t>(kBlockSize));
    } else {
        FUZZ_CHECK(!error.Text.empty());
        FUZZ_CHECK(error.Line >= 0 && static_cast<std::size_t>(error.Line) <= size + 1);
        FUZZ_CHECK(!DescribeParamFileError(error).empty());
    }

    TByteArray block(data, data + std::min<std::size_t>(size, kBlockSize));
    block.resize(kBlockSize, 0);
    const TParamFile copy{.Kind = "read",
                          .When = "2026-12-07 21:03:55",
                          .Port = "COM1",
                          .Note = {},
                          .Set = ShownSet(block, file.Set),
                          .Raw = block};
    FUZZ_CHECK(CheckEditorLimits(copy.Set, error));
    CheckRoundTrip(copy);
    return 0;
}
