#include "ParamFileLoad.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace vostrel {

namespace {

using TStatus = TParamFileLoad::TStatus;

// A narrow fopen on Windows takes the ANSI code page, not UTF-8.
std::FILE* OpenForReading(const std::filesystem::path& path)
{
#ifdef _WIN32
    return _wfopen(path.c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

TParamFileLoad SystemFailure(int code)
{
    if (code == ENOENT || code == ENOTDIR)
        return {TStatus::Missing, "Файла нет"};
    if (code == EISDIR)
        return {TStatus::Folder, "Это папка, а не файл"};
    if (code == EACCES || code == EPERM)
        return {TStatus::NoRights, "Нет прав на чтение файла"};
    return {TStatus::Unreadable, "Файл не читается: " + std::generic_category().message(code)};
}

}  // namespace

TParamFileLoad LoadParamFileAt(const std::string& path, TParamFile& out)
{
    const std::filesystem::path file(std::u8string(path.begin(), path.end()));
    // A folder opens for reading on Linux, and is refused as access denied on
    // Windows: told apart before either.
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec))
        return SystemFailure(EISDIR);
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(OpenForReading(file), &std::fclose);
    if (!f)
        return SystemFailure(errno);

    std::string text(kMaxParamFileBytes + 1, '\0');
    const std::size_t n = std::fread(text.data(), 1, text.size(), f.get());
    if (std::ferror(f.get()) != 0)
        return SystemFailure(errno != 0 ? errno : EIO);
    text.resize(n);
    // Over the limit, the parser refuses it with the one text for a file too large.
    TParamFileError error;
    if (!ParseParamFile(text, out, error))
        return {n > kMaxParamFileBytes ? TStatus::TooLarge : TStatus::Refused, DescribeParamFileError(error)};
    return {};
}

}  // namespace vostrel
