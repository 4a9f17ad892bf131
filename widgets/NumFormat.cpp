#include "NumFormat.h"

#include "DecimalDigits.h"

#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace vostrel {

namespace {

bool AllZero(const std::string& s)
{
    return s.find_first_not_of('0') == std::string::npos;
}

}  // namespace

QString FormatPattern(long double v, const QString& pattern)
{
    const qsizetype dot = pattern.indexOf(QLatin1Char('.'));
    const QString intPat = dot < 0 ? pattern : pattern.left(dot);
    const QString fracPat = dot < 0 ? QString() : pattern.mid(dot + 1);

    int decimals = 0;
    int minDecimals = 0;
    for (QChar c : fracPat) {
        if (c == QLatin1Char('0'))
            minDecimals = ++decimals;
        else if (c == QLatin1Char('#'))
            ++decimals;
    }
    int minIntDigits = 0;
    for (QChar c : intPat) {
        if (c == QLatin1Char('0'))
            ++minIntDigits;
    }

    const std::string d = RoundedDigits(v, decimals);
    std::string intDigits = d.substr(0, d.size() - static_cast<std::size_t>(decimals));
    std::string frac = d.substr(d.size() - static_cast<std::size_t>(decimals));
    const bool negative = v < 0 && !AllZero(d);

    intDigits.erase(0, intDigits.find_first_not_of('0') == std::string::npos ? intDigits.size()
                                                                             : intDigits.find_first_not_of('0'));
    while (static_cast<int>(intDigits.size()) < minIntDigits)
        intDigits.insert(intDigits.begin(), '0');
    while (static_cast<int>(frac.size()) > minDecimals && !frac.empty() && frac.back() == '0')
        frac.pop_back();

    // Lay the integer digits into the pattern from the right; a literal is
    // written only when digits remain to its left, surplus digits lead.
    QString intText;
    int next = static_cast<int>(intDigits.size()) - 1;
    for (qsizetype i = intPat.size() - 1; i >= 0; --i) {
        const QChar c = intPat[i];
        if (c == QLatin1Char('0') || c == QLatin1Char('#')) {
            if (next >= 0)
                intText.prepend(QLatin1Char(intDigits[static_cast<std::size_t>(next--)]));
        } else if (next >= 0) {
            intText.prepend(c);
        }
    }
    while (next >= 0)
        intText.prepend(QLatin1Char(intDigits[static_cast<std::size_t>(next--)]));

    QString out = negative ? QStringLiteral("-") : QString();
    out += intText;
    if (!frac.empty()) {
        out += kDecimalSeparator;
        out += QString::fromStdString(frac);
    }
    return out;
}

QString FormatPlain(long double v)
{
    return FormatPattern(v, QStringLiteral("0.##"));
}

bool IsGroupSeparator(QChar c)
{
    return c == QLatin1Char(' ') || c == QChar(0x00A0) || c == QChar(0x202F);
}

bool UngroupDigits(QString& text, const QString& pattern, int* pos)
{
    if (std::none_of(text.cbegin(), text.cend(), IsGroupSeparator))
        return true;
    // The lookahead keeps a group from being the start of a longer run.
    static const QRegularExpression thousands(
        QStringLiteral("\\A-?[0-9]{1,3}([ \\x{00A0}\\x{202F}])[0-9]{3}(?:\\1[0-9]{3})*(?![0-9])"));
    const QRegularExpressionMatch m = thousands.match(text);
    bool grouped = m.hasMatch() && std::none_of(text.cbegin() + m.capturedEnd(), text.cend(), IsGroupSeparator);
    if (!grouped) {
        // The patterns lay surplus digits in front ("1234 567,8"): shown, so taken.
        bool number = false;
        const long double v = ParseNumber(text, &number);
        grouped = number && FormatPattern(v, pattern) == text;
    }
    if (!grouped)
        return false;
    QString out;
    int at = pos != nullptr ? *pos : 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!IsGroupSeparator(text[i]))
            out += text[i];
        else if (pos != nullptr && i < *pos)
            --at;
    }
    text = out;
    if (pos != nullptr)
        *pos = at;
    return true;
}

long double ParseNumber(const QString& text, bool* ok)
{
    std::string s;
    bool good = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isSpace() || c == QChar(0x00A0) || c == QChar(0x202F))
            continue;
        if (c == QLatin1Char('.') || c == QLatin1Char(',')) {
            s.push_back('.');
        } else if (c == QLatin1Char('-') || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))) {
            s.push_back(static_cast<char>(c.unicode()));
        } else {
            good = false;
        }
    }
    long double v = 0;
    if (good && s.find_first_of("0123456789") != std::string::npos) {
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (ec != std::errc() || end != s.data() + s.size())
            good = false;
    } else if (good) {
        // "", "-", "." and "-." are the first keystrokes of a number: 0.
        good = s.size() <= 2 && s.find_first_not_of("-.") == std::string::npos && s.find('.') == s.rfind('.') &&
               (s.find('-') == std::string::npos || s.rfind('-') == 0);
    }
    if (!good)
        v = 0;
    if (ok != nullptr)
        *ok = good;
    return v;
}

}  // namespace vostrel
