// What the operator's documents quote of the programs, and whether the
// programs print it. The rule, for docs/guide-ru.md and cli/vostrel-cli.1:
//
// - guide: every code span (`…`) outside fenced blocks that holds a Cyrillic
//   letter is a text a program prints. Commands go in ```sh blocks or hold no
//   Cyrillic; the system's own words (strerror, a device's name) are quoted
//   in «…» without backticks, as any other quotation.
// - manual page: every run of bold text (.B, .BI, .IB, .BR, .RB, \fB) that
//   holds a Cyrillic letter; italics inside the run stand for what is filled in.
//
// In a quote these stand for what the program fills in: "…", <anything>, the
// words ПОРТ, ПОРТЫ, ФАЙЛ, КОПИЯ, ПУТЬ, N, A, B, X, and example values: a word
// holding a digit (COM1, dates, times, numbers, byte values), a path (/…, ~/…)
// and a file name ending in .txt or .csv. What is left between them, where it
// holds a letter, must be printed by a program: found in one string literal of
// the sources, or as the end of one literal, whole literals, and the start of
// another, as a text assembled from pieces. Literals are cut at "\n", %1…%9
// and {}, where the programs put lines apart or fill values in.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vostrel::docs {

struct TQuote {
    int Line = 0;
    std::string Text;  // placeholders as "…"
};

// The literals of a C++ source, adjacent ones joined, cut into pieces.
std::vector<std::string> SourcePieces(const std::string& source);
// The double-quoted strings of an NSIS script, cut at its line breaks.
std::vector<std::string> InstallerPieces(const std::string& script);

std::vector<TQuote> GuideQuotes(const std::string& markdown);
std::vector<TQuote> ManualQuotes(const std::string& roff);

// The fixed parts of a quote that a program must print.
std::vector<std::string> Fragments(const std::string& quote);
// pieces sorted and unique.
bool Printed(const std::string& fragment, const std::vector<std::string>& pieces);

// Every piece of the programs' sources under root.
std::vector<std::string> ProgramPieces(const std::filesystem::path& root);

}  // namespace vostrel::docs
