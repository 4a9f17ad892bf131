#include "DocQuotes.h"
#include "FileText.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

namespace vostrel::docs {

namespace {

const std::string kEllipsis = "\xE2\x80\xA6";

bool IsIdentifier(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// A Cyrillic letter is two bytes led by 0xD0 or 0xD1 in UTF-8.
bool HasCyrillic(const std::string& s)
{
    return std::any_of(s.begin(), s.end(), [](char c) { return c == '\xD0' || c == '\xD1'; });
}

bool HasLetter(const std::string& s)
{
    return HasCyrillic(s) ||
           std::any_of(s.begin(), s.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
}

// A quote mark inside a number (1'000) separates digits; after u, U, L or
// u8 it opens a character literal as after anything else.
bool InNumber(const std::string& s, std::size_t i)
{
    std::size_t start = i;
    while (start > 0 && IsIdentifier(s[start - 1]))
        --start;
    return start < i && std::isdigit(static_cast<unsigned char>(s[start])) != 0;
}

void AddPieces(const std::string& literal, std::vector<std::string>& out)
{
    std::string piece;
    for (std::size_t i = 0; i < literal.size(); ++i) {
        const bool cut = literal[i] == '\n' ||
                         (literal[i] == '%' && i + 1 < literal.size() && std::isdigit(literal[i + 1]) != 0) ||
                         literal.compare(i, 2, "{}") == 0;
        if (!cut) {
            piece += literal[i];
            continue;
        }
        if (!piece.empty())
            out.push_back(piece);
        piece.clear();
        i += literal[i] == '\n' ? 0 : 1;
    }
    if (!piece.empty())
        out.push_back(piece);
}

char Unescaped(char c)
{
    switch (c) {
    case 'n':
        return '\n';
    case 't':
        return '\t';
    case 'r':
        return '\r';
    default:
        return c;
    }
}

void AddQuote(std::vector<TQuote>& out, int line, std::string text)
{
    // A quote wrapped in the guide's source is one line in the program's output.
    for (std::size_t nl; (nl = text.find('\n')) != std::string::npos;) {
        const std::size_t next = text.find_first_not_of(' ', nl + 1);
        text.replace(nl, (next == std::string::npos ? text.size() : next) - nl, " ");
    }
    out.push_back({line, text});
}

// One roff macro line's arguments: blank-separated, "…" quoted with "" for a quote.
std::vector<std::string> RoffArguments(const std::string& s)
{
    std::vector<std::string> out;
    for (std::size_t i = 0; i < s.size();) {
        if (s[i] == ' ') {
            ++i;
            continue;
        }
        std::string a;
        if (s[i] == '"') {
            for (++i; i < s.size(); ++i) {
                if (s[i] == '"' && s.compare(i, 2, "\"\"") != 0)
                    break;
                i += s[i] == '"' ? 1 : 0;
                a += s[i];
            }
            ++i;
        }
        for (; i < s.size() && s[i] != ' '; ++i)
            a += s[i];
        out.push_back(a);
    }
    return out;
}

// A roff text with its font changes: pairs of font letter and text.
void RoffRuns(char font, const std::string& text, std::vector<std::pair<char, std::string>>& out)
{
    static const std::pair<const char*, const char*> kEscapes[] = {
        {"\\-", "-"},
        {"\\(em", "\xE2\x80\x94"},
        {"\\(en", "\xE2\x80\x93"},
        {"\\(->", "\xE2\x86\x92"},
        {"\\%", ""},
        {"\\&", ""},
        {"\\ ", " "},
        {"\\e", "\\"},
        {"\\(dq", "\""},
        {"\\(lq", "\xE2\x80\x9C"},
        {"\\(rq", "\xE2\x80\x9D"},
    };
    std::string run;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 2, "\\f") == 0 && i + 2 < text.size()) {
            out.emplace_back(font, run);
            run.clear();
            font = text[i + 2];
            i += 3;
            continue;
        }
        const auto* escape = std::find_if(std::begin(kEscapes), std::end(kEscapes), [&](const auto& e) {
            return text.compare(i, std::strlen(e.first), e.first) == 0;
        });
        if (escape != std::end(kEscapes)) {
            run += escape->second;
            i += std::strlen(escape->first);
        } else {
            run += text[i++];
        }
    }
    out.emplace_back(font, run);
}

bool IsPlaceholderWord(const std::string& w)
{
    static const char* const kWords[] = {"ПОРТ", "ПОРТЫ", "ФАЙЛ", "КОПИЯ", "ПУТЬ", "N", "A", "B", "X"};
    const auto endsWith = [&](const char* tail) {
        const std::size_t n = std::strlen(tail);
        return w.size() > n && w.compare(w.size() - n, n, tail) == 0;
    };
    return std::find(std::begin(kWords), std::end(kWords), w) != std::end(kWords) ||
           std::any_of(w.begin(), w.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }) ||
           w[0] == '/' || w[0] == '~' || endsWith(".txt") || endsWith(".csv");
}

}  // namespace

std::vector<std::string> SourcePieces(const std::string& s)
{
    std::vector<std::string> out;
    std::string literal;
    bool joining = false;  // only blanks since the last literal
    const auto end = [&] {
        AddPieces(literal, out);
        literal.clear();
        joining = false;
    };
    for (std::size_t i = 0; i < s.size();) {
        const char c = s[i];
        if (s.compare(i, 2, "//") == 0) {
            i = s.find('\n', i);
        } else if (s.compare(i, 2, "/*") == 0) {
            i = s.find("*/", i);
            i = i == std::string::npos ? i : i + 2;
        } else if (c == '\'' && !InNumber(s, i)) {
            // A character literal.
            for (++i; i < s.size() && s[i] != '\''; i += s[i] == '\\' ? 2 : 1) {
            }
            ++i;
        } else if (c == 'R' && s.compare(i, 2, "R\"") == 0 && (i == 0 || !IsIdentifier(s[i - 1]))) {
            const std::size_t open = s.find('(', i);
            const std::string close = ")" + s.substr(i + 2, open - i - 2) + "\"";
            const std::size_t stop = s.find(close, open);
            if (!joining)
                end();
            literal += s.substr(open + 1, stop - open - 1);
            joining = true;
            i = stop + close.size();
        } else if (c == '"') {
            if (!joining)
                end();
            for (++i; i < s.size() && s[i] != '"'; ++i)
                literal += s[i] == '\\' ? Unescaped(s[++i]) : s[i];
            ++i;
            joining = true;
        } else {
            if (std::isspace(static_cast<unsigned char>(c)) == 0)
                end();
            ++i;
        }
        if (i == std::string::npos)
            break;
    }
    end();
    return out;
}

std::vector<std::string> InstallerPieces(const std::string& script)
{
    std::vector<std::string> out;
    for (std::size_t open = script.find('"'); open != std::string::npos; open = script.find('"', open)) {
        const std::size_t close = script.find('"', open + 1);
        if (close == std::string::npos)
            break;
        std::string text = script.substr(open + 1, close - open - 1);
        for (std::size_t at; (at = text.find("$\\r$\\n")) != std::string::npos;)
            text.replace(at, 6, "\n");
        AddPieces(text, out);
        open = close + 1;
    }
    return out;
}

std::vector<TQuote> GuideQuotes(const std::string& markdown)
{
    // Fenced blocks blanked, their lines kept for the line numbers.
    std::string text;
    bool fenced = false;
    std::istringstream lines(markdown);
    for (std::string line; std::getline(lines, line);) {
        const bool fence = line.rfind("```", 0) == 0;
        fenced = fenced != fence;
        text += (fence || fenced ? std::string() : line) + "\n";
    }
    std::vector<TQuote> out;
    for (std::size_t open = text.find('`'); open != std::string::npos; open = text.find('`', open)) {
        const std::size_t close = text.find('`', open + 1);
        if (close == std::string::npos)
            break;
        const std::string span = text.substr(open + 1, close - open - 1);
        if (HasCyrillic(span))
            AddQuote(out, 1 + static_cast<int>(std::count(text.begin(), text.begin() + open, '\n')), span);
        open = close + 1;
    }
    return out;
}

std::vector<TQuote> ManualQuotes(const std::string& roff)
{
    std::vector<TQuote> out;
    std::istringstream lines(roff);
    bool literal = false;
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        literal = line.rfind(".nf", 0) == 0 || (literal && line.rfind(".fi", 0) != 0);
        const std::size_t blank = line.find(' ');
        const std::string macro = line.substr(0, blank);
        if (literal || blank == std::string::npos ||
            (macro != ".B" && macro != ".BI" && macro != ".IB" && macro != ".BR" && macro != ".RB"))
            continue;
        const std::vector<std::string> args = RoffArguments(line.substr(blank + 1));
        std::vector<std::pair<char, std::string>> runs;
        for (std::size_t k = 0; k < args.size(); ++k) {
            if (macro == ".B")
                RoffRuns('B', k == 0 ? args[k] : " " + args[k], runs);
            else
                RoffRuns(macro[1 + k % 2], args[k], runs);
        }
        runs.emplace_back('R', "");
        std::string quote;
        for (const auto& [font, text] : runs) {
            if (font == 'B') {
                quote += text;
            } else if (font == 'I') {
                quote += text.empty() ? "" : kEllipsis;
            } else {
                if (HasCyrillic(quote))
                    AddQuote(out, number, quote);
                quote.clear();
            }
        }
    }
    return out;
}

std::vector<std::string> Fragments(const std::string& quote)
{
    // Placeholders become a NUL, then the text splits at them.
    std::string marked;
    std::string q = quote;
    for (std::size_t at; (at = q.find(kEllipsis)) != std::string::npos;)
        q.replace(at, kEllipsis.size(), std::string(1, '\0'));
    for (std::size_t open; (open = q.find('<')) != std::string::npos && q.find('>', open) != std::string::npos;)
        q.replace(open, q.find('>', open) - open + 1, std::string(1, '\0'));
    const auto separator = [&](std::size_t i) {
        return std::string_view(" \t();,:").find(q[i]) != std::string_view::npos || q[i] == '\0' ||
               q.compare(i, 2, "\xC2\xAB") == 0 || q.compare(i, 2, "\xC2\xBB") == 0;
    };
    for (std::size_t i = 0; i < q.size();) {
        if (separator(i)) {
            const std::size_t n = q[i] == '\xC2' ? 2 : 1;
            marked += q.substr(i, n);
            i += n;
            continue;
        }
        std::size_t j = i;
        while (j < q.size() && !separator(j))
            ++j;
        const std::string word = q.substr(i, j - i);
        marked += IsPlaceholderWord(word) ? std::string(1, '\0') : word;
        i = j;
    }
    std::vector<std::string> out;
    std::istringstream parts(marked);
    for (std::string part; std::getline(parts, part, '\0');) {
        if (HasLetter(part))
            out.push_back(part);
    }
    return out;
}

bool Printed(const std::string& f, const std::vector<std::string>& pieces)
{
    if (std::any_of(pieces.begin(), pieces.end(), [&](const std::string& p) { return p.find(f) != std::string::npos; }))
        return true;
    // reach[i]: f's first i bytes are the end of one piece and whole pieces.
    std::vector<bool> reach(f.size() + 1, false);
    for (const std::string& p : pieces) {
        for (std::size_t k = 1; k <= std::min(p.size(), f.size()); ++k)
            reach[k] = reach[k] || p.compare(p.size() - k, k, f, 0, k) == 0;
    }
    for (std::size_t i = 1; i < f.size(); ++i) {
        if (!reach[i])
            continue;
        for (const std::string& p : pieces) {
            if (p.compare(0, f.size() - i, f, i) == 0)
                return true;  // the rest begins a piece
            if (f.compare(i, p.size(), p) == 0)
                reach[i + p.size()] = true;
        }
    }
    return reach[f.size()];
}

std::vector<std::string> ProgramPieces(const std::filesystem::path& root)
{
    std::vector<std::string> pieces;
    for (const char* folder : {"app", "cli", "stand", "station", "ports", "link", "copies", "widgets"}) {
        if (!std::filesystem::is_directory(root / folder))
            continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
            const std::string ext = entry.path().extension().string();
            if (ext == ".cpp" || ext == ".h") {
                const std::vector<std::string> more = SourcePieces(FileText(entry.path()));
                pieces.insert(pieces.end(), more.begin(), more.end());
            }
        }
    }
    // The installer's refusals are the operator's messages too.
    const std::vector<std::string> installer =
        InstallerPieces(FileText(root / "packaging" / "windows" / "vostrel.nsi"));
    pieces.insert(pieces.end(), installer.begin(), installer.end());
    std::sort(pieces.begin(), pieces.end());
    pieces.erase(std::unique(pieces.begin(), pieces.end()), pieces.end());
    return pieces;
}

}  // namespace vostrel::docs
