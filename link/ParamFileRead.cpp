// Reading a parameter file: every value checked as the editors would hold it.
#include "ParamFields.h"
#include "ParamText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

using namespace vostrel;
using namespace vostrel::paramfile;

namespace {

// ---- reading values ----

// More whole digits than this is far beyond every field's limit (six digits
// at most), whatever the extended format would make of them.
constexpr std::size_t kMaxWholeDigits = 18;

// A number as typed into an edit: an optional sign, digits (thousands may be
// set apart by blanks), a decimal comma or point and at most two decimals.
// written gets it as messages quote it: sign (not for zero), digits without
// leading zeros or groups, the decimal comma. A number longer than any field
// holds is read as an infinity of its sign, out of every field's limits.
bool ReadNumber(std::string_view text, long double& v, std::string& written, std::string& why)
{
    bool negative = false;
    std::string whole;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    std::vector<std::size_t> groups{0};
    bool grouped = false;
    while (i < text.size()) {
        const std::size_t at = i;
        const long cp = NextCodePoint(text, i);
        if (cp >= '0' && cp <= '9') {
            whole.push_back(static_cast<char>(cp));
            ++groups.back();
        } else if (IsBlank(cp) && groups.back() > 0) {
            grouped = true;
            groups.push_back(0);
        } else {
            i = at;
            break;
        }
    }
    const bool wholeOk =
        groups.back() > 0 && (!grouped || (groups.front() <= 3 && std::all_of(groups.begin() + 1, groups.end(),
                                                                              [](std::size_t n) { return n == 3; })));
    std::string frac;
    if (wholeOk && i < text.size() && (text[i] == ',' || text[i] == '.')) {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            frac.push_back(text[i]);
    }
    if (!wholeOk || i != text.size()) {
        why = Quoted(text) + " — не число";
        return false;
    }
    if (frac.size() > 2) {
        why = Quoted(text) + " — больше двух знаков после запятой, окно столько не принимает";
        return false;
    }
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
    if (whole == "0" && frac.find_first_not_of('0') == std::string::npos)
        negative = false;
    const std::string sign = negative ? "-" : "";
    written = sign + whole + (frac.empty() ? "" : "," + frac);
    if (whole.size() > kMaxWholeDigits) {
        v = negative ? -std::numeric_limits<long double>::infinity() : std::numeric_limits<long double>::infinity();
        return true;
    }
    const std::string plain = sign + whole + (frac.empty() ? "" : "." + frac);
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), v);
    if (ec != std::errc() || end != plain.data() + plain.size()) {
        why = Quoted(text) + " — не число";
        return false;
    }
    return true;
}

// "1e5": an exponent the number scan stopped at, which would otherwise read
// as a unit.
bool StartsWithExponent(std::string_view unit)
{
    std::size_t i = 0;
    if (unit.empty())
        return false;
    const long e = NextCodePoint(unit, i);
    if (e != 'e' && e != 'E' && e != 0x435 && e != 0x415)  // Latin or Cyrillic
        return false;
    if (i < unit.size() && (unit[i] == '+' || unit[i] == '-'))
        ++i;
    return i < unit.size() && unit[i] >= '0' && unit[i] <= '9';
}

bool UnitMatches(const TFieldDef& def, std::string_view unit)
{
    const std::string u = Normalised(unit);
    if (u == Normalised(def.Unit))
        return true;
    std::string_view aliases = def.UnitAliases;
    while (!aliases.empty()) {
        const std::size_t bar = aliases.find('|');
        if (Normalised(aliases.substr(0, bar)) == u)
            return true;
        aliases = bar == std::string_view::npos ? std::string_view() : aliases.substr(bar + 1);
    }
    return false;
}

// A number followed by the field's unit, or by nothing; written as ReadNumber
// gives it.
bool ReadQuantity(const TFieldDef& def, std::string_view value, long double& v, std::string& written, std::string& why)
{
    std::size_t end = 0;
    for (std::size_t i = 0; i < value.size();) {
        const long cp = NextCodePoint(value, i);
        if (!(IsBlank(cp) || (cp >= '0' && cp <= '9') || cp == ',' || cp == '.' || cp == '-' || cp == '+'))
            break;
        end = i;
    }
    const std::string_view number = TrimmedBlanks(value.substr(0, end));
    const std::string_view unit = TrimmedBlanks(value.substr(end));
    if (number.empty()) {
        why = value.empty() ? "нет значения" : Quoted(value) + " — не число";
        return false;
    }
    if (StartsWithExponent(unit)) {
        why = Quoted(value) + " — не число: запись с порядком окно не принимает";
        return false;
    }
    if (!unit.empty() && !UnitMatches(def, unit)) {
        why = "единица " + Quoted(unit) + " не та: здесь " + def.Unit;
        return false;
    }
    return ReadNumber(number, v, written, why);
}

bool ReadCode(TField f, std::string_view value, int& code, std::string& why)
{
    const TFieldDef& def = Def(f);
    if (IsNumericCode(f)) {
        long double v = 0;
        std::string written;
        if (!ReadQuantity(def, value, v, written, why))
            return false;
        for (const TCode& c : CodesOf(f)) {
            long double named = 0;
            std::string ignored;
            ReadNumber(c.Name, named, ignored, ignored);
            if (named == v) {
                code = c.Code;
                return true;
            }
        }
    } else {
        const std::string n = Normalised(value);
        for (const TCode& c : CodesOf(f)) {
            if (Normalised(c.Name) == n) {
                code = c.Code;
                return true;
            }
        }
    }
    why = Quoted(value) + " — в окне такого значения нет; возможны: " + CodeList(f) +
          (*def.Unit != '\0' ? std::string(" ") + def.Unit : std::string());
    return false;
}

bool ReadRaw(std::string_view value, TByteArray& raw, std::string& why)
{
    raw.clear();
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::size_t i = 0;
    while (i < value.size()) {
        if (value[i] == ' ' || value[i] == '\t') {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < value.size() && value[end] != ' ' && value[end] != '\t')
            ++end;
        const std::string_view token = value.substr(i, end - i);
        if (token.size() % 2 != 0 || !std::all_of(token.begin(), token.end(), [&](char c) { return hex(c) >= 0; })) {
            why = Quoted(token) + " — не байты в шестнадцатеричном виде";
            return false;
        }
        for (std::size_t k = 0; k < token.size(); k += 2)
            raw.push_back(static_cast<std::uint8_t>(hex(token[k]) * 16 + hex(token[k + 1])));
        i = end;
    }
    if (raw.size() != static_cast<std::size_t>(kBlockSize)) {
        why = "нужно " + std::to_string(kBlockSize) + " байта блока, здесь " + std::to_string(raw.size());
        return false;
    }
    return true;
}

// The format line, "Vostrel parameters, format N"; false with why otherwise.
bool ReadFormatLine(std::string_view line, std::string& why)
{
    const std::string n = Normalised(line);
    const std::string prefix = Normalised("Vostrel parameters, format") + " ";
    if (n.rfind(prefix, 0) == 0) {
        const std::string version = n.substr(prefix.size());
        int v = 0;
        const auto [end, ec] = std::from_chars(version.data(), version.data() + version.size(), v);
        if (ec == std::errc() && end == version.data() + version.size() && !version.empty()) {
            if (v == kFormatVersion)
                return true;
            why = "файл формата " + version + ", а эта программа читает формат " + std::to_string(kFormatVersion);
            return false;
        }
    }
    why = std::string("это не файл параметров: первой строкой ожидается «") + kFormatLine + "»";
    return false;
}

}  // namespace

bool vostrel::ParseParamFile(std::string_view text, TParamFile& out, TParamFileError& error)
{
    if (text.size() > kMaxParamFileBytes)
        return Fail(error, 0, "",
                    "Это не файл параметров: он слишком велик, больше " + std::to_string(kMaxParamFileBytes / 1024) +
                        " КиБ");
    TParamFile file;
    std::array<int, kFieldCount> fieldLine{};
    std::array<int, kHeaderCount> headerLine{};
    bool formatSeen = false;
    int lineNo = 0;
    std::string why;

    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (lineNo == 1 && line.substr(0, 3) == "\xEF\xBB\xBF")
            line.remove_prefix(3);
        if (!IsUtf8(line))
            return Fail(error, lineNo, "", "строка не в кодировке UTF-8");
        line = Trimmed(line);
        if (line.empty() || line.front() == '#')
            continue;
        if (!formatSeen) {
            if (!ReadFormatLine(line, why))
                return Fail(error, lineNo, "", why);
            formatSeen = true;
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return Fail(error, lineNo, "", Quoted(line) + " — ожидается «поле: значение»");
        const std::string_view key = Trimmed(line.substr(0, colon));
        const std::string_view value = Trimmed(line.substr(colon + 1));
        const std::string name = Normalised(key);

        const auto header = std::find_if(kHeaderNames.begin(), kHeaderNames.end(),
                                         [&name](const char* h) { return Normalised(h) == name; });
        if (header != kHeaderNames.end()) {
            const auto h = static_cast<THeader>(header - kHeaderNames.begin());
            int& seen = headerLine[static_cast<std::size_t>(h)];
            if (seen != 0)
                return Fail(error, lineNo, *header, "поле уже задано в строке " + std::to_string(seen));
            seen = lineNo;
            switch (h) {
            case THeader::Kind: {
                const std::string kind = Normalised(value);
                if (kind == Normalised(kKindRead) || kind == "read") {
                    file.Kind = "read";
                } else if (kind == Normalised(kKindSent) || kind == "sent") {
                    file.Kind = "sent";
                } else {
                    return Fail(error, lineNo, *header,
                                Quoted(value) + " — ожидается " + Quoted(kKindRead) + " или " + Quoted(kKindSent));
                }
                break;
            }
            case THeader::When:
                file.When = Clean(value);
                break;
            case THeader::Port:
                file.Port = Clean(value);
                break;
            case THeader::Note:
                file.Note = Clean(value);
                break;
            case THeader::Raw: {
                TByteArray raw;
                if (!ReadRaw(value, raw, why))
                    return Fail(error, lineNo, *header, why);
                file.Raw = std::move(raw);
                break;
            }
            }
            continue;
        }

        const auto def = std::find_if(kFields.begin(), kFields.end(),
                                      [&name](const TFieldDef& d) { return Normalised(d.Name) == name; });
        if (def == kFields.end())
            return Fail(error, lineNo, std::string(key), "неизвестное поле");
        int& seen = fieldLine[static_cast<std::size_t>(def->Id)];
        if (seen != 0)
            return Fail(error, lineNo, def->Name, "поле уже задано в строке " + std::to_string(seen));
        seen = lineNo;
        std::string written;
        if (long double* number = NumberIn(def->Id, file.Set)) {
            if (!ReadQuantity(*def, value, *number, written, why))
                return Fail(error, lineNo, def->Name, why);
        } else {
            int code = 0;
            if (!ReadCode(def->Id, value, code, why))
                return Fail(error, lineNo, def->Name, why);
            SetCode(def->Id, file.Set, code);
        }
        if (!CheckField(def->Id, file.Set, why, written))
            return Fail(error, lineNo, def->Name, why);
    }

    if (!formatSeen)
        return Fail(error, lineNo, "", std::string("файл пуст: нет строки «") + kFormatLine + "»");
    for (const TFieldDef& def : kFields) {
        if (fieldLine[static_cast<std::size_t>(def.Id)] == 0)
            return Fail(error, 0, def.Name, "нет в файле");
    }
    for (std::size_t ch = 0; ch < 2; ++ch) {
        const TField tx = ch == 0 ? TField::Tx1 : TField::Tx2;
        if (!CheckSimplex(ch, file.Set, why))
            return Fail(error, fieldLine[static_cast<std::size_t>(tx)], Def(tx).Name, why);
    }
    if (file.Raw) {
        // The fields are the reading of the bytes, with the file's own codes
        // standing for the window's earlier ones where the bytes leave them.
        const TParameterSet reading = ShownSet(*file.Raw, file.Set);
        for (const TFieldDef& def : kFields) {
            if (SameField(def.Id, reading, file.Set))
                continue;
            return Fail(error, fieldLine[static_cast<std::size_t>(def.Id)], def.Name,
                        "не совпадает с байтами копии (строка " +
                            std::to_string(headerLine[static_cast<std::size_t>(THeader::Raw)]) + "): по ним " +
                            Quoted(ValueText(def.Id, reading)) +
                            ". Чтобы запрограммировать изменённые поля, удалите строку «Блок»");
        }
    }
    out = std::move(file);
    return true;
}

std::string vostrel::DescribeParamFileError(const TParamFileError& error)
{
    std::string out;
    if (error.Line > 0)
        out = "Строка " + std::to_string(error.Line);
    if (!error.Field.empty())
        out += (out.empty() ? "Поле " : ", поле ") + Quoted(error.Field);
    return out.empty() ? error.Text : out + ": " + error.Text;
}
