// Text helpers of the parameter file: UTF-8 code points, names compared as
// typed, header texts as a line can carry them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vostrel::paramfile {

// Decodes one code point at s[i], advancing i; -1 for a malformed sequence.
long NextCodePoint(std::string_view s, std::size_t& i);
bool IsUtf8(std::string_view s);
void AppendUtf8(std::string& out, long cp);

// The blanks a name or a number may carry: space, tab and the no-break ones.
bool IsBlank(long cp);

// A name or code as typed, in the form names are compared in: lower case
// (Latin and Cyrillic), "ё" as "е", dashes as '-', one blank between words.
// Expects valid UTF-8.
std::string Normalised(std::string_view s);

std::string_view Trimmed(std::string_view s);

// Without the blanks IsBlank takes at either end; expects valid UTF-8.
std::string_view TrimmedBlanks(std::string_view s);

// A header text as a line can carry it: control characters become blanks,
// outer blanks go.
std::string Clean(std::string_view s);

std::string Quoted(std::string_view s);

}  // namespace vostrel::paramfile
