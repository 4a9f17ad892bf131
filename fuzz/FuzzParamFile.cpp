// The parameter file parser on arbitrary text: it never fails but with an
// error naming where; whatever it takes is a set the editors hold, and formats
// into a file that reads back as the same, and each number it takes is the
// decimal written, to the last digit. The input also stands as one number in
// an otherwise good file, the field picked by its first byte. The first 34
// bytes, taken as a station's block, also make a copy that reads back exactly.
#include "FuzzCheck.h"

#include "ParamFile.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The decimal a value taken by the parser stands for, written plainly: sign,
// digits without leading zeros, a comma and the decimals without trailing
// zeros. Its number ends at the last digit (no unit has one); blanks between
// are whatever bytes are not digits, signs or separators.
std::string Decimal(std::string_view value)
{
    std::string whole;
    std::string frac;
    bool negative = false;
    bool point = false;
    const std::size_t end = value.find_last_of("0123456789");
    for (std::size_t i = 0; end != std::string_view::npos && i <= end; ++i) {
        const char c = value[i];
        if (IsDigit(c))
            (point ? frac : whole).push_back(c);
        else if (c == ',' || c == '.')
            point = true;
        else if (c == '-')
            negative = true;
    }
    whole.erase(0, whole.find_first_not_of('0'));
    frac.erase(frac.find_last_not_of('0') + 1);
    if (whole.empty())
        whole = "0";
    if (whole == "0" && frac.empty())
        negative = false;
    return (negative ? "-" : "") + whole + (frac.empty() ? "" : "," + frac);
}

// Number fields and codes that are numbers: the window's text is digits and a comma.
bool IsNumeric(const TFieldText& f)
{
    return !f.Value.empty() &&
           std::all_of(f.Value.begin(), f.Value.end(), [](char c) { return IsDigit(c) || c == ','; });
}

// Each line "Name: value" in the exact spelling of a numeric field is that
// field's one line in a file that parsed: its value is what the set holds.
void CheckNumbersAsWritten(std::string_view text, const TParamFile& file)
{
    const std::vector<TFieldText> fields = DescribeSet(file.Set);
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        const std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        std::string_view key = line.substr(0, colon);
        while (!key.empty() && (key.front() == ' ' || key.front() == '\t'))
            key.remove_prefix(1);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
            key.remove_suffix(1);
        for (const TFieldText& f : fields) {
            if (f.Name == key && IsNumeric(f))
                FUZZ_CHECK(Decimal(line.substr(colon + 1)) == Decimal(f.Value));
        }
    }
}

void CheckParsed(std::string_view text, const TParamFile& file)
{
    TParamFileError error;
    FUZZ_CHECK(CheckEditorLimits(file.Set, error));
    if (file.Raw)
        FUZZ_CHECK(ShownSet(*file.Raw, file.Set) == file.Set);
    CheckRoundTrip(file);
    CheckNumbersAsWritten(text, file);
    TNullLog log;
    FUZZ_CHECK(ProgrammingBlock(file.Set, log).size() == static_cast<std::size_t>(kBlockSize));
}

// A good file, both channels on two frequencies so that one may change alone,
// with the value of one numeric field replaced by the input's first line;
// line gets that line's number.
std::string WithNumber(std::string_view input, int& line)
{
    TParameterSet set;
    set.RxPause = 10.0L;
    std::string text = FormatParamFile(TParamFile{.Set = set});
    std::vector<TFieldText> numeric;
    for (const TFieldText& f : DescribeSet(set)) {
        if (IsNumeric(f))
            numeric.push_back(f);
    }
    const TFieldText& f = numeric[input.empty() ? 0 : static_cast<unsigned char>(input.front()) % numeric.size()];
    std::string_view value = input.substr(input.empty() ? 0 : 1);
    value = value.substr(0, value.find_first_of("\r\n"));
    const std::size_t at = text.find("\n" + f.Name + ": ") + f.Name.size() + 3;
    text.replace(at, text.find('\n', at) - at, value);
    line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TParamFile file;
    TParamFileError error;
    if (ParseParamFile(text, file, error)) {
        CheckParsed(text, file);
    } else {
        FUZZ_CHECK(!error.Text.empty());
        FUZZ_CHECK(error.Line >= 0 && static_cast<std::size_t>(error.Line) <= size + 1);
        FUZZ_CHECK(!DescribeParamFileError(error).empty());
    }

    int line = 0;
    const std::string one = WithNumber(text, line);
    TParamFile withNumber;
    if (ParseParamFile(one, withNumber, error))
        CheckParsed(one, withNumber);
    else
        FUZZ_CHECK(error.Line == line);

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
