// Inputs the fuzzers found, kept as ordinary tests.
#include "NumFormat.h"

#include <QLocale>
#include <QString>

#include <gtest/gtest.h>

using namespace vostrel;

// fuzz_numedit: two minus signs and nothing else were read as the number 0
// with ok set, although such text is no number at all.
TEST(NumFormatRegression, RepeatedMinusIsNoNumber)
{
    struct Row {
        const char* name;
        const char* text;
    };
    const Row rows[] = {
        {"two signs", "--"},
        {"two signs, blank between", "- -"},
        {"vertical tab ahead", "\v--"},
    };
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Russian, QLocale::Russia)}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.name) + " / " + locale.name().toStdString());
            QLocale::setDefault(locale);
            bool ok = true;
            const long double v = ParseNumber(QString::fromLatin1(row.text), &ok);
            EXPECT_FALSE(ok);
            EXPECT_EQ(v, 0.0L);
        }
    }
    // A lone sign is still the first keystroke of a number.
    bool ok = false;
    EXPECT_EQ(ParseNumber(QStringLiteral("-"), &ok), 0.0L);
    EXPECT_TRUE(ok);
    QLocale::setDefault(QLocale::c());
}
