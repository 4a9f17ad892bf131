// The guide and the manual page quote only what the programs print: a message
// reworded in the code, or a document that wants another, fails here with the
// document's line.
#include "DocQuotes.h"
#include "FileText.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace vostrel::docs {

namespace {

const std::filesystem::path kRoot = VOSTREL_SOURCE_DIR;

const std::vector<std::string>& Pieces()
{
    static const std::vector<std::string> pieces = ProgramPieces(kRoot);
    return pieces;
}

// "line: quote / fragment" for each fragment no program prints.
std::string Unprinted(const std::vector<TQuote>& quotes)
{
    std::string out;
    for (const TQuote& q : quotes) {
        for (const std::string& f : Fragments(q.Text)) {
            if (!Printed(f, Pieces()))
                out += std::to_string(q.Line) + ": " + q.Text + "\n    not printed: «" + f + "»\n";
        }
    }
    return out;
}

}  // namespace

TEST(DocQuotes, GuideQuotesWhatTheProgramsPrint)
{
    const std::vector<TQuote> quotes = GuideQuotes(FileText(kRoot / "docs" / "guide-ru.md"));
    // The guide quotes well over a hundred messages; far fewer means the rule lost them.
    EXPECT_GT(quotes.size(), 100u);
    const std::string unprinted = Unprinted(quotes);
    EXPECT_TRUE(unprinted.empty()) << "docs/guide-ru.md\n" << unprinted;
}

TEST(DocQuotes, ManualPageQuotesWhatTheProgramsPrint)
{
    const std::vector<TQuote> quotes = ManualQuotes(FileText(kRoot / "cli" / "vostrel-cli.1"));
    EXPECT_GT(quotes.size(), 60u);
    const std::string unprinted = Unprinted(quotes);
    EXPECT_TRUE(unprinted.empty()) << "cli/vostrel-cli.1\n" << unprinted;
}

TEST(DocQuotes, TheRuleTellsTheProgramsTextsFromOthers)
{
    const struct {
        const char* Name;
        const char* Quote;
        bool Printed;
    } quotes[] = {
        {"a file-load message as printed", "nope.txt: Файла нет", true},
        {"the file-load message of an older version", "Не удалось прочитать файл ФАЙЛ: файла нет", false},
        {"a message assembled from pieces",
         "Порт COM2 — то же устройство, что и порт COM1: станция на нём одна, работа идёт там.", true},
        {"the same with one word changed",
         "Порт COM2 — то же устройство, что и порт COM1: станция на нём одна, работа идёт тут.", false},
        {"a usage line of the help", "program ПОРТ[,ПОРТ...] ФАЙЛ [--each] [--verify] [--log ФАЙЛ] [-v]", true},
        {"a summary reason", "(поток не запущен)", true},
        {"a summary reason no program gives", "(порт сгорел)", false},
        {"the installer's refusal", "Программа Vostrel, стенд Vostrel или vostrel-cli сейчас работает.", true},
    };
    for (const auto& q : quotes) {
        SCOPED_TRACE(q.Name);
        const std::vector<std::string> fragments = Fragments(q.Quote);
        ASSERT_FALSE(fragments.empty());
        bool printed = true;
        for (const std::string& f : fragments)
            printed = printed && Printed(f, Pieces());
        EXPECT_EQ(printed, q.Printed);
    }

    // What the rule takes as a quote, and what it leaves alone.
    const struct {
        const char* Name;
        const char* Text;
        std::vector<std::string> Quotes;
    } guide[] = {
        {"a message in a code span", "Окно пишет `Станция не изменена.` и ждёт.", {"Станция не изменена."}},
        {"a span wrapped over two lines", "`Порт закрыт;\n  когда` и", {"Порт закрыт; когда"}},
        {"a command without Cyrillic", "Команда `vostrel-cli read COM1 -o a.txt` читает.", {}},
        {"a command block", "```sh\nvostrel-cli program COM1 смена.csv --each\n```\n", {}},
        {"an ordinary quotation", "Система говорит «Ошибка ввода/вывода».", {}},
    };
    for (const auto& g : guide) {
        SCOPED_TRACE(g.Name);
        std::vector<std::string> texts;
        for (const TQuote& q : GuideQuotes(g.Text))
            texts.push_back(q.Text);
        EXPECT_EQ(texts, g.Quotes);
    }
    const struct {
        const char* Name;
        const char* Text;
        std::vector<std::string> Quotes;
    } manual[] = {
        {"bold words between roman punctuation", ".BR \"(отказ порта)\" ,\n", {"(отказ порта)"}},
        {"italics stand for what is filled in", ".BI \"Порт \" PORT \" вернулся.\"\n", {"Порт … вернулся."}},
        {"a font change inside an argument", ".BI \"порт \" PORT \" указан дважды\"\\fR,\n", {"порт … указан дважды"}},
        {"bold without Cyrillic", ".B locales\n", {}},
        {"Cyrillic in italics alone", ".I Руководство\n", {}},
        {"an example", ".nf\n.B vostrel-cli show файл.txt\n.fi\n", {}},
    };
    for (const auto& m : manual) {
        SCOPED_TRACE(m.Name);
        std::vector<std::string> texts;
        for (const TQuote& q : ManualQuotes(m.Text))
            texts.push_back(q.Text);
        EXPECT_EQ(texts, m.Quotes);
    }
}

}  // namespace vostrel::docs
