// The numeric edit's text handling: parsing, the plain and patterned
// formats and their round trips, and the edit itself fed typed keys, pastes,
// Escape and focus changes. Numbers are Russian whatever the system's
// locale: under a Russian and a C one, no text shown has a decimal point.
//
// Input: byte 0 picks the system locale (bit 0) and one of the window's edits
// (bits 1..3); the rest is UTF-8 text. Within it U+0001 focuses the edit,
// U+0002 takes the focus away, U+0003 is Escape, U+0004 Backspace, U+0005
// Home, U+0006 End, U+0007 Left, U+000B selects all, and text between two
// U+000E is pasted in one piece; every other character is typed.
#include "FuzzCheck.h"

#include "NumEdit.h"
#include "NumFormat.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace vostrel;

namespace {

struct TEditKind {
    const char* format;
    long double min;
    long double max;
};

// The window's edits: frequencies, Xoff count, RX pause, packet size, the
// byte-count label, and the same patterns without or with other limits.
const TEditKind kKinds[8] = {
    {"### ##0.0", 140000.0L, 174000.0L},
    {"#0", 0.0L, 0.0L},
    {"##0.00", 0.0L, 0.0L},
    {"#0", 0.0L, 255.0L},
    {"##0.00", 0.0L, 195.29L},
    {"0", 0.0L, 0.0L},
    {"### ##0.0", 0.0L, 0.0L},
    {"### ##0.0", -1000.0L, 1000.0L},
};

const char* const kPatterns[] = {"### ##0.0", "#0", "##0.00", "0", "0.##"};

int Decimals(const QString& pattern)
{
    const qsizetype dot = pattern.indexOf(QLatin1Char('.'));
    return dot < 0 ? 0 : static_cast<int>(pattern.size() - dot - 1);
}

// Beyond this the 18 digits shown, rounded up, may no longer fit the format.
constexpr long double kLargestShown = 1e4900L;

// Formatting v and reading it back loses no more than the rounding to the
// pattern's places, and formatting that again gives the same text.
void CheckRoundTrips(long double v)
{
    if (!std::isfinite(v) || std::fabs(v) > kLargestShown) {
        return;
    }
    const long double slack = std::fabs(v) * 1e-17L;
    for (const char* p : kPatterns) {
        const QString pattern = QString::fromLatin1(p);
        const QString text = FormatPattern(v, pattern);
        FUZZ_CHECK(!text.contains(QLatin1Char('.')));
        bool ok = false;
        const long double back = ParseNumber(text, &ok);
        FUZZ_CHECK(ok);
        const long double half = 0.5L * std::pow(10.0L, -Decimals(pattern));
        FUZZ_CHECK(std::fabs(back - v) <= half + slack + 1e-19L);
        FUZZ_CHECK(FormatPattern(back, pattern) == text);
    }
    const QString plain = FormatPlain(v);
    FUZZ_CHECK(plain == FormatPattern(v, QStringLiteral("0.##")));
}

bool IsBlank(QChar c)
{
    return c.isSpace() || c == QChar(0x00A0) || c == QChar(0x202F);
}

// Text that reads as a number: blanks aside, an optional leading minus,
// digits and at most one separator ('.' or ',').
bool LooksLikeNumber(const QString& text)
{
    QString s;
    for (const QChar c : text) {
        if (!IsBlank(c))
            s += c;
    }
    bool seenSep = false;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == QLatin1Char('-') && i == 0) {
            continue;
        }
        if (c == QLatin1Char('.') || c == QLatin1Char(',')) {
            if (seenSep)
                return false;
            seenSep = true;
        } else if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9'))) {
            return false;
        }
    }
    return true;
}

// What typing may bring: an optional leading minus, digits, at most one
// separator ('.' or ',') and at most two digits after it. With up to 18
// digits, which the extended format holds exactly, value gets its number.
// known is false where the model cannot tell (valid then means nothing).
struct TTypedForm {
    bool valid = false;
    bool exact = false;
    bool known = true;
    long double value = 0;
};

TTypedForm TypedForm(const QString& text)
{
    std::uint64_t digits = 0;
    int count = 0;
    int decimals = 0;
    bool afterSep = false;
    bool negative = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (i == 0 && c == QLatin1Char('-')) {
            negative = true;
        } else if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (++count <= 18)
                digits = digits * 10 + static_cast<std::uint64_t>(c.unicode() - '0');
            if (afterSep && ++decimals > 2)
                return {};
        } else if (!afterSep && (c == QLatin1Char('.') || c == QLatin1Char(','))) {
            afterSep = true;
        } else {
            return {};
        }
    }
    TTypedForm form;
    form.valid = true;
    form.exact = count <= 18;
    const long double scale = decimals == 0 ? 1.0L : (decimals == 1 ? 10.0L : 100.0L);
    form.value = static_cast<long double>(digits) / scale;
    if (negative)
        form.value = -form.value;
    return form;
}

bool IsDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The blanks a paste may group digits with: the patterns' own and the
// no-break spaces other programs use.
bool IsGroupBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QChar(0x00A0) || c == QChar(0x202F);
}

qsizetype DigitsFrom(const QString& s, qsizetype i)
{
    qsizetype n = 0;
    while (i + n < s.size() && IsDigit(s[i + n]))
        ++n;
    return n;
}

// s from i on is nothing, or '.' or ',' and at most two digits.
bool IsDecimalTail(const QString& s, qsizetype i)
{
    if (i == s.size())
        return true;
    if (s[i] != QLatin1Char('.') && s[i] != QLatin1Char(','))
        return false;
    const qsizetype n = DigitsFrom(s, i + 1);
    return i + 1 + n == s.size() && n <= 2;
}

// Thousands: an optional minus, one to three digits, then at least one group
// of exactly three, each after the same kind of blank, then typed decimals.
bool IsThousands(const QString& s)
{
    qsizetype i = s.startsWith(QLatin1Char('-')) ? 1 : 0;
    const qsizetype lead = DigitsFrom(s, i);
    if (lead < 1 || lead > 3)
        return false;
    i += lead;
    if (i == s.size() || !IsGroupBlank(s[i]))
        return false;
    const QChar blank = s[i];
    while (i < s.size() && s[i] == blank) {
        if (DigitsFrom(s, i + 1) != 3)
            return false;
        i += 4;
    }
    return IsDecimalTail(s, i);
}

// A pattern with one literal blank among its integer places and fixed
// decimals, as "### ##0.0": it writes every integer digit, surplus ones in
// front, with the blank before the last `after`.
struct TBlankPattern {
    bool has = false;
    QChar blank;
    int after = 0;
    int decimals = 0;
};

TBlankPattern ReadBlankPattern(const QString& pattern)
{
    const qsizetype dot = pattern.indexOf(QLatin1Char('.'));
    const QString whole = dot < 0 ? pattern : pattern.left(dot);
    const QString frac = dot < 0 ? QString() : pattern.mid(dot + 1);
    TBlankPattern p;
    int blanks = 0;
    int zeros = 0;
    for (const QChar c : whole) {
        if (c == QLatin1Char('0') || c == QLatin1Char('#')) {
            p.after += blanks == 1 ? 1 : 0;
            zeros += c == QLatin1Char('0') ? 1 : 0;
        } else {
            p.blank = c;
            ++blanks;
        }
    }
    if (blanks == 0)
        return {};
    // Other shapes would need a model of their own.
    FUZZ_CHECK(blanks == 1 && IsGroupBlank(p.blank) && zeros <= p.after);
    FUZZ_CHECK(std::all_of(frac.cbegin(), frac.cend(), [](QChar c) { return c == QLatin1Char('0'); }));
    p.has = true;
    p.decimals = static_cast<int>(frac.size());
    return p;
}

enum class TAnswer { No, Yes, Unknown };

// Whether s is the text pattern shows for the number s reads as, with '.'
// standing for the comma.
TAnswer IsShownByPattern(const QString& s, const QString& pattern)
{
    const TBlankPattern p = ReadBlankPattern(pattern);
    if (!p.has)
        return TAnswer::No;
    qsizetype i = s.startsWith(QLatin1Char('-')) ? 1 : 0;
    const qsizetype lead = DigitsFrom(s, i);
    // The blank appears only with digits before it, so the first is no 0.
    if (lead < 1 || s[i] == QLatin1Char('0'))
        return TAnswer::No;
    i += lead;
    if (i == s.size() || s[i] != p.blank || DigitsFrom(s, i + 1) != p.after)
        return TAnswer::No;
    i += 1 + p.after;
    if (p.decimals > 0) {
        if (i == s.size() || (s[i] != QLatin1Char('.') && s[i] != QLatin1Char(',')) ||
            DigitsFrom(s, i + 1) != p.decimals)
            return TAnswer::No;
        i += 1 + p.decimals;
    }
    if (i != s.size())
        return TAnswer::No;
    // 18 significant digits survive reading and formatting; past them
    // formatting writes zeros.
    int seen = 0;
    for (const QChar c : s) {
        if (IsDigit(c) && ++seen > 18 && c != QLatin1Char('0'))
            return TAnswer::No;
    }
    // Near the largest extended value reading may overflow.
    if (lead + p.after > 4900)
        return TAnswer::Unknown;
    return TAnswer::Yes;
}

// The text as the edit keeps it: group blanks dropped, the decimal comma.
QString Normalized(const QString& s)
{
    QString out;
    for (const QChar c : s) {
        if (!IsGroupBlank(c))
            out += c == QLatin1Char('.') ? QLatin1Char(',') : c;
    }
    return out;
}

// What a paste may bring: the typed form, the same with its digits grouped
// in thousands, or the text the edit's pattern shows for a number.
TTypedForm PastedForm(const QString& text, const QString& pattern)
{
    if (std::none_of(text.cbegin(), text.cend(), IsGroupBlank))
        return TypedForm(text);
    const TAnswer answer = IsThousands(text) ? TAnswer::Yes : IsShownByPattern(text, pattern);
    if (answer == TAnswer::No)
        return {};
    TTypedForm form = TypedForm(Normalized(text));
    form.known = answer == TAnswer::Yes;
    return form;
}

void SendKey(TNumEdit& edit, int key, const QString& text = QString())
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(&edit, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(&edit, &release);
}

// A shown, active window holds the edit under test and a second edit that
// takes the focus away, so focus changes are real and hasFocus() is true.
QWidget* g_window = nullptr;
QLineEdit* g_other = nullptr;

void SetFocus(TNumEdit& edit, bool in)
{
    if (in) {
        edit.setFocus(Qt::TabFocusReason);
    } else {
        g_other->setFocus(Qt::TabFocusReason);
    }
    FUZZ_CHECK(edit.hasFocus() == in);
}

void CheckValue(const TNumEdit& edit)
{
    const long double v = edit.Value();
    FUZZ_CHECK(std::isfinite(v));
    if (edit.MinValue() != edit.MaxValue()) {
        FUZZ_CHECK(v >= edit.MinValue() && v <= edit.MaxValue());
    }
}

bool NoMinus(const TNumEdit& edit)
{
    return edit.MinValue() >= 0 && edit.MaxValue() > 0;
}

void DriveEdit(const TEditKind& kind, const QString& ops)
{
    g_other->setFocus();
    TNumEdit edit(QString::fromLatin1(kind.format), g_window);
    edit.SetLimits(kind.min, kind.max);
    edit.SetValue(145575.0L);
    edit.show();
    // The value Escape returns to: the one set, or read when the focus left.
    long double current = edit.Value();
    int rejected = 0;
    QObject::connect(&edit, &QLineEdit::inputRejected, [&rejected] { ++rejected; });
    bool pasting = false;
    QString paste;

    for (const QChar c : ops) {
        const ushort op = c.unicode();
        if (op == 0x01 || op == 0x02) {
            const bool in = op == 0x01;
            const bool moved = edit.hasFocus() != in;
            // The text as it stands, read and brought into the limits, is
            // shown plain on taking the focus and with the pattern on losing it.
            const long double read = edit.Value();
            SetFocus(edit, in);
            if (moved) {
                FUZZ_CHECK(edit.text() == (in ? FormatPlain(read) : FormatPattern(read, edit.DisplayFormat())));
                if (!in) {
                    current = read;
                }
            }
            CheckValue(edit);
            continue;
        }
        if (pasting && op != 0x0E) {
            paste += c;
            continue;
        }
        if (!edit.hasFocus()) {
            continue;  // keys and pastes reach only the focused edit
        }
        const QString before = edit.text();
        switch (op) {
        case 0x03:
            SendKey(edit, Qt::Key_Escape);
            FUZZ_CHECK(edit.text() == FormatPlain(current));
            break;
        case 0x04:
            SendKey(edit, Qt::Key_Backspace);
            break;
        case 0x05:
            SendKey(edit, Qt::Key_Home);
            break;
        case 0x06:
            SendKey(edit, Qt::Key_End);
            break;
        case 0x07:
            SendKey(edit, Qt::Key_Left);
            break;
        case 0x0B:
            edit.selectAll();
            break;
        case 0x0E:
            if (pasting) {
                const qsizetype at = edit.hasSelectedText() ? edit.selectionStart() : edit.cursorPosition();
                QString whole = before;
                whole.replace(at, edit.selectedText().size(), paste);
                const TTypedForm form = PastedForm(whole, edit.DisplayFormat());
                edit.insert(paste);
                if (form.known) {
                    const bool taken = form.valid && !(NoMinus(edit) && whole.startsWith(QLatin1Char('-')));
                    FUZZ_CHECK(edit.text() == (taken ? Normalized(whole) : before));
                    // Blanks dropped in front keep the cursor right after the paste.
                    if (taken)
                        FUZZ_CHECK(edit.cursorPosition() == Normalized(whole.left(at + paste.size())).size());
                }
                paste.clear();
            }
            pasting = !pasting;
            break;
        default: {
            const int rejectedBefore = rejected;
            SendKey(edit, Qt::Key_unknown, QString(c));
            // A typed blank groups nothing, wherever it goes.
            if (IsGroupBlank(c))
                FUZZ_CHECK(edit.text() == before && rejected == rejectedBefore + 1);
            break;
        }
        }
        // While the operator edits, the text only ever changes into
        // acceptable input with the decimal comma, which reads as a number.
        const QString after = edit.text();
        if (after != before) {
            FUZZ_CHECK(edit.IsAcceptableInput(after));
            FUZZ_CHECK(TypedForm(after).valid);
            FUZZ_CHECK(!after.contains(QLatin1Char('.')));
            bool ok = false;
            ParseNumber(after, &ok);
            FUZZ_CHECK(ok);
            FUZZ_CHECK(!(NoMinus(edit) && after.startsWith(QLatin1Char('-'))));
        }
        CheckValue(edit);
    }
    SetFocus(edit, false);
    CheckValue(edit);
}

}  // namespace

// Leaks the sanitizer may report outside this program's code, one per line.
extern "C" const char* __lsan_default_suppressions()
{
    // fontconfig keeps its parsed configuration for the life of the
    // process and frees it only on an explicit FcFini, which Qt never calls.
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    // No display: widgets work on the offscreen platform. The application
    // lives until the process ends; destroying it after Qt's own statics
    // are gone would crash at exit.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "fuzz_numedit";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
    g_window = new QWidget;
    g_other = new QLineEdit(g_window);
    g_window->resize(300, 100);
    g_window->show();
    g_window->activateWindow();
    for (int i = 0; i < 100 && !g_window->isActiveWindow(); ++i) {
        QApplication::processEvents();
    }
    if (!g_window->isActiveWindow()) {
        std::fprintf(stderr, "the offscreen window could not be activated\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    QLocale::setDefault((data[0] & 1) != 0 ? QLocale::c() : QLocale(QLocale::Russian, QLocale::Russia));
    const TEditKind& kind = kKinds[(data[0] >> 1) & 7];
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    // The text as typed or pasted in one piece.
    bool ok = false;
    const long double v = ParseNumber(text, &ok);
    if (ok) {
        FUZZ_CHECK(LooksLikeNumber(text));
        FUZZ_CHECK(std::isfinite(v));
        CheckRoundTrips(v);
    } else {
        FUZZ_CHECK(v == 0.0L);
    }
    {
        const QString format = QString::fromLatin1(kind.format);
        TNumEdit probe(format);
        probe.SetLimits(kind.min, kind.max);
        // Accepted is exactly what a paste may bring, less a minus sign where
        // the limits refuse it; it reads as the number its digits say.
        const auto checkPasted = [&probe, &format](const QString& t) {
            const TTypedForm form = PastedForm(t, format);
            if (!form.known)
                return;
            const bool minusRefused = NoMinus(probe) && t.startsWith(QLatin1Char('-'));
            FUZZ_CHECK(probe.IsAcceptableInput(t) == (form.valid && !minusRefused));
            if (form.valid) {
                bool read = false;
                const long double number = ParseNumber(t, &read);
                FUZZ_CHECK(read);
                FUZZ_CHECK(!form.exact || number == form.value);
            }
        };
        checkPasted(text);
        // What a focused edit shows can always be edited further, and what
        // an unfocused one shows pasted back.
        if (ok && std::isfinite(v) && std::fabs(v) <= kLargestShown) {
            const QString plain = FormatPlain(v);
            FUZZ_CHECK(probe.IsAcceptableInput(plain) || (NoMinus(probe) && plain.startsWith(QLatin1Char('-'))));
            const QString shown = FormatPattern(v, format);
            FUZZ_CHECK(probe.IsAcceptableInput(shown) || (NoMinus(probe) && shown.startsWith(QLatin1Char('-'))));
            checkPasted(plain);
            checkPasted(shown);
        }
    }

    // The same bytes as raw extended values, as decoding or a clamp may hand them over.
    for (std::size_t at = 1; at + 10 <= size && at <= 41; at += 10) {
        long double raw = 0;
        unsigned char bits[sizeof(long double)] = {};
        for (std::size_t i = 0; i < 10; ++i) {
            bits[i] = data[at + i];
        }
        std::memcpy(&raw, bits, sizeof raw);
        CheckRoundTrips(raw);
        for (const char* p : kPatterns) {
            FormatPattern(raw, QString::fromLatin1(p));
        }
    }

    DriveEdit(kind, text);
    return 0;
}
