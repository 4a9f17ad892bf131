// Decimal formatting of the numeric edits: display patterns built from
// '0' (digit always shown), '#' (digit shown when significant), a literal
// blank between thousands and units and '.' for the decimal separator.
// Numbers are written the Russian way whatever the system's language, as
// the rest of the window is Russian: a decimal comma, and the pattern's
// blank kept as it is.
#pragma once

#include <QChar>
#include <QString>

namespace vostrel {

// What the edits show and what a typed '.' or ',' becomes.
inline constexpr QChar kDecimalSeparator = u',';

// v with the pattern; digits are rounded half away from zero on the decimal
// expansion of v (18 significant digits), so 1.5 gives "2" with "0".
QString FormatPattern(long double v, const QString& pattern);

// v as the plain number an edit shows while it is being edited: up to two
// decimals, trailing zeros dropped, no grouping.
QString FormatPlain(long double v);

// The blanks that separate digit groups: the patterns' own U+0020 and the
// no-break spaces other programs group digits with.
bool IsGroupSeparator(QChar c);

// Drops the digit-group separators from text grouped the way numbers are
// shown: thousands (one to three leading digits, then groups of three) with
// one kind of separator, or exactly as pattern shows the number. False, and
// text unchanged, when a separator stands anywhere else. *pos (when given)
// keeps its place among the remaining characters.
bool UngroupDigits(QString& text, const QString& pattern, int* pos = nullptr);

// The number in text: blanks are ignored, '.' and ',' both mark the
// decimals. Empty text, a lone sign or separator count as 0; ok (when
// given) is false for text that is no number at all.
long double ParseNumber(const QString& text, bool* ok = nullptr);

}  // namespace vostrel
