#include "ParamFile.h"

#include "DecimalDigits.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace vostrel;

namespace {

constexpr const char* kFormatLine = "Vostrel parameters, format 1";
constexpr int kFormatVersion = 1;
constexpr long double kFreqMin = 140000.0L;
constexpr long double kFreqMax = 174000.0L;
// The largest pause with two decimals whose units still fit 16 bits.
constexpr long double kPauseMax = 195.29L;

// ---- numbers as the edits show them ----

// The number an edit with `decimals` shows for v, with sep as the decimal
// separator and without digit groups.
std::string Shown(long double v, int decimals, char sep = ',')
{
    const std::string d = RoundedDigits(v, decimals);
    std::string whole = d.substr(0, d.size() - static_cast<std::size_t>(decimals));
    const std::string frac = d.substr(d.size() - static_cast<std::size_t>(decimals));
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
    std::string out = (v < 0 && d.find_first_not_of('0') != std::string::npos) ? "-" : "";
    out += whole;
    if (decimals > 0)
        out += sep + frac;
    return out;
}

long double ReadBack(const std::string& text)
{
    long double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

// What an edit holds once v was set into it: brought into its limits (when
// it has any), shown, and that text read back into the limits.
long double EditValue(long double v, int decimals, bool limited = false)
{
    const auto clamp = [limited](long double x) {
        if (!limited)
            return x;
        return x < kFreqMin ? kFreqMin : (x > kFreqMax ? kFreqMax : x);
    };
    return clamp(ReadBack(Shown(clamp(v), decimals, '.')));
}

long double FreqEdit(long double v)
{
    return EditValue(v, 1, true);
}

std::string FreqText(long double v)
{
    return Shown(std::clamp(v, kFreqMin, kFreqMax), 1);
}

// A value for a message, as exactly as it is held, with the decimal comma.
std::string Exact(long double v)
{
    char buf[64] = {};
    std::to_chars(buf, buf + sizeof buf - 1, v);
    std::string s = buf;
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}

// ---- UTF-8 and names ----

// Decodes one code point at s[i], advancing i; -1 for a malformed sequence.
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

// A name or code as typed, in the form names are compared in: lower case
// (Latin and Cyrillic), "ё" as "е", dashes as '-', one blank between words.
// Expects valid UTF-8.
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

// A header text as a line can carry it: control characters become blanks,
// outer blanks go.
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

// ---- the fields ----

enum class TField {
    Step,
    Mode1,
    Rx1,
    Tx1,
    Power1,
    Mode2,
    Rx2,
    Tx2,
    Power2,
    Baud,
    Flow,
    Xoff,
    Pause,
    Air,
    Kod,
    Size,
};
constexpr std::size_t kFieldCount = 16;

struct TCode {
    int Code;
    const char* Name;
};

struct TFieldDef {
    TField Id;
    const char* Name;
    const char* Unit;         // as written; "" for none
    const char* UnitAliases;  // further spellings accepted, '|' between them
};

const std::array<TFieldDef, kFieldCount> kFields{{
    {TField::Step, "Шаг сетки частот", "кГц", "khz"},
    {TField::Mode1, "ЗПЧ1 режим", "", ""},
    {TField::Rx1, "ЗПЧ1 приём", "кГц", "khz"},
    {TField::Tx1, "ЗПЧ1 передача", "кГц", "khz"},
    {TField::Power1, "ЗПЧ1 мощность", "Вт", "w"},
    {TField::Mode2, "ЗПЧ2 режим", "", ""},
    {TField::Rx2, "ЗПЧ2 приём", "кГц", "khz"},
    {TField::Tx2, "ЗПЧ2 передача", "кГц", "khz"},
    {TField::Power2, "ЗПЧ2 мощность", "Вт", "w"},
    {TField::Baud, "Скорость COM-порта", "бит/с", "bit/s|bps|бод"},
    {TField::Flow, "Управление потоком", "", ""},
    {TField::Xoff, "Отдавать Xoff после", "байт", "байта|байтов|byte|bytes"},
    {TField::Pause, "Пауза для RxD -> ПРД", "мс", "ms"},
    {TField::Air, "Скорость в эфире", "бит/с", "bit/s|bps|бод"},
    {TField::Kod, "Помехостойкий код", "", ""},
    {TField::Size, "Размер кодир. пакета", "байт", "байта|байтов|byte|bytes"},
}};

const TFieldDef& Def(TField f)
{
    return kFields[static_cast<std::size_t>(f)];
}

const std::vector<TCode>& CodesOf(TField f)
{
    static const std::vector<TCode> step{{0, "25,0"}, {1, "12,5"}};
    static const std::vector<TCode> mode{{0, "разнесённый приём"}, {1, "симплекс"}};
    static const std::vector<TCode> power{{1, "25"}, {2, "10"}, {3, "5"}};
    static const std::vector<TCode> baud{{0, "9600"}, {1, "19200"}, {2, "38400"}, {3, "57600"}};
    static const std::vector<TCode> flow{{0, "none"}, {1, "Xon/Xoff"}, {2, "RTS/CTS"}};
    static const std::vector<TCode> air{{0, "2400"}, {1, "1200"}, {2, "4800"}};
    static const std::vector<TCode> kod{{0, "РМК31"}, {1, "РМК7"}};
    static const std::vector<TCode> none;
    switch (f) {
    case TField::Step:
        return step;
    case TField::Mode1:
    case TField::Mode2:
        return mode;
    case TField::Power1:
    case TField::Power2:
        return power;
    case TField::Baud:
        return baud;
    case TField::Flow:
        return flow;
    case TField::Air:
        return air;
    case TField::Kod:
        return kod;
    default:
        return none;
    }
}

bool IsNumericCode(TField f)
{
    return f == TField::Step || f == TField::Power1 || f == TField::Power2 || f == TField::Baud || f == TField::Air;
}

std::size_t Channel(TField f)
{
    return (f == TField::Mode2 || f == TField::Rx2 || f == TField::Tx2 || f == TField::Power2) ? 1 : 0;
}

// The code a selector field holds in set; simplex as 0 or 1.
int CodeIn(TField f, const TParameterSet& s)
{
    switch (f) {
    case TField::Step:
        return s.StepCode;
    case TField::Mode1:
    case TField::Mode2:
        return s.Simplex[Channel(f)] ? 1 : 0;
    case TField::Power1:
    case TField::Power2:
        return s.PowerCode[Channel(f)];
    case TField::Baud:
        return s.BaudCode;
    case TField::Flow:
        return s.FlowCode;
    case TField::Air:
        return s.AirSpeedCode;
    case TField::Kod:
        return s.KodCode;
    default:
        return 0;
    }
}

void SetCode(TField f, TParameterSet& s, int code)
{
    switch (f) {
    case TField::Step:
        s.StepCode = code;
        break;
    case TField::Mode1:
    case TField::Mode2:
        s.Simplex[Channel(f)] = code == 1;
        break;
    case TField::Power1:
    case TField::Power2:
        s.PowerCode[Channel(f)] = code;
        break;
    case TField::Baud:
        s.BaudCode = code;
        break;
    case TField::Flow:
        s.FlowCode = code;
        break;
    case TField::Air:
        s.AirSpeedCode = code;
        break;
    case TField::Kod:
        s.KodCode = code;
        break;
    default:
        break;
    }
}

// The number field f of set, or null for a selector field.
template <class TSet>
auto NumberIn(TField f, TSet& s) -> decltype(&s.XoffAfter)
{
    switch (f) {
    case TField::Rx1:
    case TField::Rx2:
        return &s.RxFreq[Channel(f)];
    case TField::Tx1:
    case TField::Tx2:
        return &s.TxFreq[Channel(f)];
    case TField::Xoff:
        return &s.XoffAfter;
    case TField::Pause:
        return &s.RxPause;
    case TField::Size:
        return &s.KodPaketSize;
    default:
        return nullptr;
    }
}

long double NumberOf(TField f, const TParameterSet& s)
{
    return *NumberIn(f, s);
}

bool IsFrequency(TField f)
{
    return f == TField::Rx1 || f == TField::Tx1 || f == TField::Rx2 || f == TField::Tx2;
}

int DecimalsOf(TField f)
{
    return IsFrequency(f) ? 1 : (f == TField::Pause ? 2 : 0);
}

std::string ValueText(TField f, const TParameterSet& s)
{
    if (NumberIn(f, s) != nullptr)
        return Shown(NumberOf(f, s), DecimalsOf(f));
    const int code = CodeIn(f, s);
    for (const TCode& c : CodesOf(f)) {
        if (c.Code == code)
            return c.Name;
    }
    return "код " + std::to_string(code);
}

std::string Quoted(std::string_view s)
{
    return "«" + std::string(s) + "»";
}

std::string CodeList(TField f)
{
    std::string out;
    for (const TCode& c : CodesOf(f)) {
        if (!out.empty())
            out += ", ";
        out += c.Name;
    }
    return out;
}

// ---- reading values ----

// A number as typed into an edit: an optional sign, digits (thousands may be
// set apart by blanks), a decimal comma or point and at most two decimals.
bool ReadNumber(std::string_view text, long double& v, std::string& why)
{
    std::string plain;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        plain.push_back(text[i++]);
    std::vector<std::size_t> groups{0};
    bool grouped = false;
    while (i < text.size()) {
        const std::size_t at = i;
        const long cp = NextCodePoint(text, i);
        if (cp >= '0' && cp <= '9') {
            plain.push_back(static_cast<char>(cp));
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
    std::size_t decimals = 0;
    if (wholeOk && i < text.size() && (text[i] == ',' || text[i] == '.')) {
        plain.push_back('.');
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++decimals)
            plain.push_back(text[i]);
    }
    if (!wholeOk || i != text.size()) {
        why = Quoted(text) + " — не число";
        return false;
    }
    if (decimals > 2) {
        why = Quoted(text) + " — больше двух знаков после запятой, окно столько не принимает";
        return false;
    }
    const char* first = plain.data() + (plain[0] == '+' ? 1 : 0);
    std::from_chars(first, plain.data() + plain.size(), v);
    return true;
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

// A number followed by the field's unit, or by nothing.
bool ReadQuantity(const TFieldDef& def, std::string_view value, long double& v, std::string& why)
{
    std::size_t end = 0;
    for (std::size_t i = 0; i < value.size();) {
        const long cp = NextCodePoint(value, i);
        if (!(IsBlank(cp) || (cp >= '0' && cp <= '9') || cp == ',' || cp == '.' || cp == '-' || cp == '+'))
            break;
        end = i;
    }
    const std::string_view number = Trimmed(value.substr(0, end));
    const std::string_view unit = Trimmed(value.substr(end));
    if (number.empty()) {
        why = value.empty() ? "нет значения" : Quoted(value) + " — не число";
        return false;
    }
    if (!unit.empty() && !UnitMatches(def, unit)) {
        why = "единица " + Quoted(unit) + " не та: здесь " + def.Unit;
        return false;
    }
    return ReadNumber(number, v, why);
}

bool ReadCode(TField f, std::string_view value, int& code, std::string& why)
{
    const TFieldDef& def = Def(f);
    if (IsNumericCode(f)) {
        long double v = 0;
        if (!ReadQuantity(def, value, v, why))
            return false;
        for (const TCode& c : CodesOf(f)) {
            long double named = 0;
            std::string ignored;
            ReadNumber(c.Name, named, ignored);
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

// Whether one field of set is a value the editors hold as it is.
bool CheckField(TField f, const TParameterSet& s, std::string& why)
{
    const TFieldDef& def = Def(f);
    if (NumberIn(f, s) == nullptr) {
        const int code = CodeIn(f, s);
        const auto& codes = CodesOf(f);
        if (std::none_of(codes.begin(), codes.end(), [code](const TCode& c) { return c.Code == code; })) {
            why = "код " + std::to_string(code) + " — в окне такого значения нет; возможны: " + CodeList(f);
            return false;
        }
        return true;
    }
    const long double v = NumberOf(f, s);
    const int decimals = DecimalsOf(f);
    const std::string unit = std::string(" ") + def.Unit;
    if (IsFrequency(f)) {
        if (!(v >= kFreqMin && v <= kFreqMax)) {
            why = Exact(v) + unit + " вне пределов окна: от " + Shown(kFreqMin, 1) + " до " + Shown(kFreqMax, 1) + unit;
            return false;
        }
    } else {
        const long double max = f == TField::Pause ? kPauseMax : 255.0L;
        if (!(v >= 0 && v <= max)) {
            why = Exact(v) + unit + " вне пределов: от 0 до " + Shown(max, decimals) + unit +
                  (f == TField::Pause ? ", больше блок не несёт" : ", столько несёт байт блока");
            return false;
        }
    }
    if (EditValue(v, decimals) != v) {
        why = decimals == 0 ? Exact(v) + unit + " — здесь только целое число"
                            : "окно показывает " + std::to_string(decimals) + (decimals == 1 ? " знак" : " знака") +
                                  " после запятой: " + Exact(v) + " стало бы " + Shown(v, decimals);
        return false;
    }
    return true;
}

bool CheckSimplex(std::size_t ch, const TParameterSet& s, std::string& why)
{
    if (s.Simplex[ch] && !(std::fabs(s.TxFreq[ch] - s.RxFreq[ch]) < 0.001L)) {
        why = "в режиме «симплекс» частота передачи равна частоте приёма, " + Shown(s.RxFreq[ch], 1) + " кГц";
        return false;
    }
    return true;
}

bool SameField(TField f, const TParameterSet& a, const TParameterSet& b)
{
    if (NumberIn(f, a) != nullptr)
        return NumberOf(f, a) == NumberOf(f, b);
    return CodeIn(f, a) == CodeIn(f, b);
}

bool Fail(TParamFileError& error, int line, std::string field, std::string text)
{
    error = TParamFileError{line, std::move(field), std::move(text)};
    return false;
}

// ---- the header ----

enum class THeader { Kind, When, Port, Note, Raw };
constexpr std::size_t kHeaderCount = 5;
constexpr std::array<const char*, kHeaderCount> kHeaderNames{"Копия", "Время", "Порт", "Примечание", "Блок"};
constexpr const char* kKindRead = "прочитано из станции";
constexpr const char* kKindSent = "отправлено в станцию";

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

std::string HexLine(const TByteArray& raw)
{
    std::string out;
    char buf[4];
    for (std::uint8_t b : raw) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        if (!out.empty())
            out.push_back(' ');
        out += buf;
    }
    return out;
}

// Comments on what the station held that the window does not show as it is.
std::vector<std::string> StationNotes(const TByteArray& raw, const TParameterSet& shown)
{
    std::vector<std::string> notes;
    TParameterSet held;
    if (!DecodeBlock(raw, shown, held))
        return notes;
    for (TField f : {TField::Rx1, TField::Tx1, TField::Rx2, TField::Tx2}) {
        const long double v = NumberOf(f, held);
        if (v < kFreqMin || v > kFreqMax)
            notes.push_back("# В станции " + Quoted(Def(f).Name) + " " + Shown(v, 1) +
                            " кГц: вне пределов окна, оно показывает " + Shown(NumberOf(f, shown), 1) + " кГц");
    }
    const unsigned mode = raw[12];
    if (((mode >> 2) & 3u) == 3)
        notes.push_back("# В станции " + Quoted(Def(TField::Flow).Name) +
                        " с кодом 3: в окне такого нет, оно оставило прежнее значение");
    if (((mode >> 5) & 3u) == 3)
        notes.push_back("# В станции " + Quoted(Def(TField::Air).Name) +
                        " с кодом 3: в окне такого нет, оно оставило прежнее значение");
    return notes;
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

// ---- the window's path ----

namespace {

// What the editors hold once the window has shown set: ShowParameters.
TParameterSet EditorsShowing(const TParameterSet& set)
{
    TParameterSet e = set;
    for (std::size_t ch = 0; ch < 2; ++ch) {
        e.RxFreq[ch] = FreqEdit(set.RxFreq[ch]);
        e.TxFreq[ch] = FreqEdit(set.TxFreq[ch]);
    }
    e.XoffAfter = EditValue(set.XoffAfter, 0);
    e.RxPause = EditValue(set.RxPause, 2);
    e.KodPaketSize = EditValue(set.KodPaketSize, 0);
    return e;
}

}  // namespace

TParameterSet vostrel::ShownSet(const TByteArray& block, const TParameterSet& previous)
{
    TParameterSet decoded;
    if (!DecodeBlock(block, previous, decoded))
        return previous;
    return EditorsShowing(decoded);
}

TByteArray vostrel::ProgrammingBlock(const TParameterSet& shown, ILogSink& log)
{
    TParameterSet e = EditorsShowing(shown);
    for (std::size_t ch = 0; ch < 2; ++ch) {
        // The receive edit first; a change of its text, while the toggle
        // shows simplex, copies it into the transmit edit.
        const long double rx = RoundToGrid(e.RxFreq[ch], e.StepCode);
        const bool changed = FreqText(rx) != FreqText(e.RxFreq[ch]);
        e.RxFreq[ch] = FreqEdit(rx);
        if (changed && e.Simplex[ch])
            e.TxFreq[ch] = FreqEdit(e.RxFreq[ch]);
        e.TxFreq[ch] = FreqEdit(RoundToGrid(e.TxFreq[ch], e.StepCode));
    }
    for (std::size_t ch = 0; ch < 2; ++ch)
        e.Simplex[ch] = std::fabs(e.TxFreq[ch] - e.RxFreq[ch]) < 0.001L;
    return EncodeBlock(e, log);
}

bool vostrel::CheckEditorLimits(const TParameterSet& set, TParamFileError& error)
{
    std::string why;
    for (const TFieldDef& def : kFields) {
        if (!CheckField(def.Id, set, why))
            return Fail(error, 0, def.Name, why);
    }
    for (std::size_t ch = 0; ch < 2; ++ch) {
        if (!CheckSimplex(ch, set, why))
            return Fail(error, 0, Def(ch == 0 ? TField::Tx1 : TField::Tx2).Name, why);
    }
    return true;
}

std::vector<TFieldText> vostrel::DescribeSet(const TParameterSet& set)
{
    std::vector<TFieldText> out;
    for (const TFieldDef& def : kFields)
        out.push_back(TFieldText{def.Name, ValueText(def.Id, set), def.Unit});
    return out;
}

// ---- the file ----

std::string vostrel::FormatParamFile(const TParamFile& file)
{
    std::string out = std::string(kFormatLine) + "\n";
    out += "# Параметры радиостанции Vostrel: в каждой строке «поле: значение единица».\n"
           "# Частоты в кГц (с запятой или точкой), мощность в Вт, коды — как их показывает окно.\n"
           "# Строки с # и пустые строки не читаются.\n";
    if (file.Raw) {
        out += "# Это копия: строка «Блок» — байты, как они были в станции (их отправит восстановление),\n"
               "# поля — их чтение в окне. Чтобы запрограммировать изменённые поля, удалите строку «Блок».\n";
    }
    const auto header = [&out](THeader h, const std::string& value) {
        out += kHeaderNames[static_cast<std::size_t>(h)];
        out += ':';
        if (!value.empty())
            out += ' ' + value;
        out += '\n';
    };
    if (!file.Kind.empty())
        header(THeader::Kind, file.Kind == "read" ? kKindRead : (file.Kind == "sent" ? kKindSent : Clean(file.Kind)));
    if (!Clean(file.When).empty())
        header(THeader::When, Clean(file.When));
    if (!Clean(file.Port).empty())
        header(THeader::Port, Clean(file.Port));
    header(THeader::Note, Clean(file.Note));
    out += '\n';
    for (const TFieldText& f : DescribeSet(file.Set))
        out += f.Name + ": " + f.Value + (f.Unit.empty() ? "" : " " + f.Unit) + "\n";
    if (file.Raw) {
        out += '\n';
        for (const std::string& note : StationNotes(*file.Raw, file.Set))
            out += note + "\n";
        header(THeader::Raw, HexLine(*file.Raw));
    }
    return out;
}

bool vostrel::ParseParamFile(std::string_view text, TParamFile& out, TParamFileError& error)
{
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
        if (long double* number = NumberIn(def->Id, file.Set)) {
            if (!ReadQuantity(*def, value, *number, why))
                return Fail(error, lineNo, def->Name, why);
        } else {
            int code = 0;
            if (!ReadCode(def->Id, value, code, why))
                return Fail(error, lineNo, def->Name, why);
            SetCode(def->Id, file.Set, code);
        }
        if (!CheckField(def->Id, file.Set, why))
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
