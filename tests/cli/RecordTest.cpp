// The record's file in process: its fields as a spreadsheet reads them and
// the header only where the file begins.
#include "Record.h"
#include "FileText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace vostrel {

namespace {

namespace fs = std::filesystem;

const TRecordRow kRow{"COM1",
                      "/dev/ttyS0",
                      3,
                      RecordEvent::Programmed,
                      "Шаг: 12,5 → 25,0 кГц; ЗПЧ1: 5 → 25 Вт",
                      {"a_read.txt", "a_sent.txt"},
                      "серия \"А\""};
// kRow as written, its time first.
const std::regex
    kRowWritten("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d;COM1;/dev/ttyS0;3;запрограммировано;"
                "\"Шаг: 12,5 → 25,0 кГц; ЗПЧ1: 5 → 25 Вт\";a_read.txt, a_sent.txt;\"серия \"\"А\"\"\"\r\n");

}  // namespace

// As RFC 4180 quotes: only what holds the separator, a quote or a line break.
TEST(Record, FieldsAreQuotedOnlyWhereASpreadsheetNeedsIt)
{
    const struct {
        const char* Name;
        std::string Text, Written;
    } cases[] = {
        {"plain", "без изменений", "без изменений"}, {"decimal comma", "145575,0 кГц", "145575,0 кГц"},
        {"separator", "a; b", "\"a; b\""},           {"quotes doubled", "он \"А\"", "\"он \"\"А\"\"\""},
        {"only a quote", "\"", "\"\"\"\""},          {"line feed", "a\nb", "\"a\nb\""},
        {"carriage return", "a\rb", "\"a\rb\""},     {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(CsvField(c.Text), c.Written);
    }
    EXPECT_EQ(CsvRow({"a", "", "b;c"}), "a;;\"b;c\"\r\n");
}

TEST(Record, TheHeaderBeginsANewOrEmptyFileOnly)
{
    const fs::path dir = fs::temp_directory_path() / ("vostrel-record-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string header = "\xEF\xBB\xBF" + RecordHeader();
    const std::string earlier = header + "2026-12-07 21:03:55;COM2;/dev/ttyS1;1;прочитано;;;\r\n";
    const struct {
        const char* Name;
        std::optional<std::string> Before;  // none: no file yet
        std::string Kept;                   // ahead of the new row
    } cases[] = {
        {"new file", std::nullopt, header},
        {"empty file", "", header},
        {"rows already", earlier, earlier},
        {"a row a kill cut short", earlier + "2026-12-07 21:04", earlier + "2026-12-07 21:04\r\n"},
    };
    std::vector<std::string> told;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const fs::path path = dir / (std::string(c.Name) + ".csv");
        if (c.Before)
            std::ofstream(path, std::ios::binary) << *c.Before;
        TRecord record([&](const std::string& s) { told.push_back(s); });
        ASSERT_TRUE(record.Open(path.string())) << record.Failure();
        EXPECT_TRUE(record.Append(kRow));
        const std::string text = FileText(path);
        ASSERT_EQ(text.substr(0, c.Kept.size()), c.Kept);
        EXPECT_TRUE(std::regex_match(text.substr(c.Kept.size()), kRowWritten)) << text;
    }

    EXPECT_FALSE(TRecord(nullptr).Open((dir / "no folder" / "r.csv").string()));

    EXPECT_TRUE(told.empty());
    fs::remove_all(dir);
}

}  // namespace vostrel
