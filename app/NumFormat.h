// Decimal formatting of the numeric edits: display patterns built from
// '0' (digit always shown), '#' (digit shown when significant), a literal
// blank between thousands and units and '.' for the locale's separator.
#pragma once

#include <QLocale>
#include <QString>

namespace vostrel {

// v with the pattern; digits are rounded half away from zero on the decimal
// expansion of v (18 significant digits), so 1.5 gives "2" with "0".
QString FormatPattern(long double v, const QString& pattern, const QLocale& locale = QLocale());

// v as the plain number an edit shows while it is being edited: up to two
// decimals, trailing zeros dropped, no grouping.
QString FormatPlain(long double v, const QLocale& locale = QLocale());

// The number in text: blanks are ignored, '.', ',' and the locale's separator
// all mark the decimals. Empty text, a lone sign or separator count as 0;
// ok (when given) is false for text that is no number at all.
long double ParseNumber(const QString& text, bool* ok = nullptr, const QLocale& locale = QLocale());

}  // namespace vostrel
