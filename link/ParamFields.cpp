#include "ParamFields.h"

#include "DecimalDigits.h"
#include "ParamText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vostrel::paramfile {

namespace {

long double ReadBack(const std::string& text)
{
    long double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

}  // namespace

std::string Shown(long double v, int decimals, char sep)
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

long double EditValue(long double v, int decimals, bool limited)
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

std::string Exact(long double v)
{
    char buf[64] = {};
    std::to_chars(buf, buf + sizeof buf - 1, v);
    std::string s = buf;
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}

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

bool CheckField(TField f, const TParameterSet& s, std::string& why, std::string_view written)
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
    // Thousands of digits are no help in a message: the first twenty say enough.
    const std::size_t sign = !written.empty() && written.front() == '-' ? 1 : 0;
    const std::string number = written.empty()               ? Exact(v)
                               : written.size() <= sign + 24 ? std::string(written)
                                                             : std::string(written.substr(0, sign + 20)) + "…";
    if (IsFrequency(f)) {
        if (!(v >= kFreqMin && v <= kFreqMax)) {
            why = number + unit + " вне пределов окна: от " + Shown(kFreqMin, 1) + " до " + Shown(kFreqMax, 1) + unit;
            return false;
        }
    } else {
        const long double max = f == TField::Pause ? kPauseMax : 255.0L;
        if (!(v >= 0 && v <= max)) {
            why = number + unit + " вне пределов: от 0 до " + Shown(max, decimals) + unit +
                  (f == TField::Pause ? ", больше блок не несёт" : ", столько несёт байт блока");
            return false;
        }
    }
    if (EditValue(v, decimals) != v) {
        why = decimals == 0 ? number + unit + " — здесь только целое число"
                            : "окно показывает " + std::to_string(decimals) + (decimals == 1 ? " знак" : " знака") +
                                  " после запятой: " + number + " стало бы " + Shown(v, decimals);
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

}  // namespace vostrel::paramfile
