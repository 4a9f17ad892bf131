#include "ParamText.h"

#include <algorithm>

namespace vostrel::paramfile {

long NextCodePoint(std::string_view s, std::size_t& i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    int len = 0;
    long cp = 0;
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
    } else {
        ++i;
        return -1;
    }
    if (i + static_cast<std::size_t>(len) > s.size()) {
        i = s.size();
        return -1;
    }
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80) {
            i += static_cast<std::size_t>(k);
            return -1;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += static_cast<std::size_t>(len);
    static constexpr long kMinForLength[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinForLength[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return -1;
    return cp;
}

bool IsUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        if (NextCodePoint(s, i) < 0)
            return false;
    }
    return true;
}

void AppendUtf8(std::string& out, long cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsBlank(long cp)
{
    return cp == ' ' || cp == '\t' || cp == 0xA0 || cp == 0x202F;
}

std::string Normalised(std::string_view s)
{
    std::string out;
    bool blank = false;
    for (std::size_t i = 0; i < s.size();) {
        long cp = NextCodePoint(s, i);
        if (IsBlank(cp)) {
            blank = !out.empty();
            continue;
        }
        if (cp >= 'A' && cp <= 'Z')
            cp += 'a' - 'A';
        else if (cp >= 0x410 && cp <= 0x42F)
            cp += 0x20;
        else if (cp == 0x401 || cp == 0x451)
            cp = 0x435;
        else if (cp == 0x2013 || cp == 0x2014 || cp == 0x2212)
            cp = '-';
        if (blank)
            out.push_back(' ');
        blank = false;
        AppendUtf8(out, cp);
    }
    return out;
}

std::string_view Trimmed(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view TrimmedBlanks(std::string_view s)
{
    std::size_t from = s.size();
    std::size_t to = 0;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t at = i;
        if (!IsBlank(NextCodePoint(s, i))) {
            from = std::min(from, at);
            to = i;
        }
    }
    return from < to ? s.substr(from, to - from) : std::string_view();
}

std::string Clean(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = ' ';
    }
    return std::string(Trimmed(out));
}

std::string Quoted(std::string_view s)
{
    return "«" + std::string(s) + "»";
}

}  // namespace vostrel::paramfile
