// The built guide page: every link and picture resolves beside it.
#include "GuidePage.h"
#include "FileText.h"

#include <gtest/gtest.h>

#include <set>

namespace vostrel::docs {

namespace {

// Pages as cmark-gfm writes them, around a folder holding window.png,
// схема.svg and notes.txt.
const std::set<std::string> kFolder = {"window.png", "схема.svg", "notes.txt"};

std::string Page(const std::string& body)
{
    return "<!DOCTYPE html>\n<html lang=\"ru\">\n<body>\n<h1>Руководство оператора</h1>\n" + body +
           "</body>\n</html>\n";
}

}  // namespace

TEST(GuidePage, FaultsOfMadeUpPages)
{
    const struct {
        const char* Name;
        std::string Html;
        std::string Fault;  // a part of the one fault expected; "" for none
    } rows[] = {
        {"good page",
         Page("<p><img src=\"window.png\" alt=\"окно\" /> <img src=\"%D1%81%D1%85%D0%B5%D0%BC%D0%B0.svg\" alt=\"\" />\n"
              "<a href=\"https://example.org/a?b=1&amp;c=2\">сайт</a> <a href=\"mailto:a@example.org\">почта</a>\n"
              "<h2 id=\"porty\">Порты</h2> <a href=\"#porty\">ниже</a> <a href=\"notes.txt#part\">заметки</a></p>\n"),
         ""},
        {"missing picture", Page("<p><img src=\"start.png\" alt=\"старт\" /></p>\n"), "no file start.png"},
        {"link to another document", Page("<p><a href=\"developers.md\">разработчикам</a></p>\n"),
         "no file developers.md"},
        {"link out of the folder", Page("<p><a href=\"../CHANGELOG.md\">история</a></p>\n"), "not a file beside"},
        {"bad anchor", Page("<h2 id=\"porty\">Порты</h2><p><a href=\"#porti\">ниже</a></p>\n"), "no such id"},
        {"empty link", Page("<p><a href=\"\">никуда</a></p>\n"), "empty"},
        {"a file: address", Page("<p><img src=\"file:///usr/share/x.png\" alt=\"\" /></p>\n"), "not a file beside"},
        {"no title", "<html><body><p>Текст</p></body></html>\n", "no title"},
        {"empty page", "", "no title"},
        {"srcset is no src", Page("<p><img src=\"window.png\" srcset=\"big.png 2x\" alt=\"\" /></p>\n"), ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        const std::vector<std::string> faults =
            PageFaults(row.Html, [](const std::string& name) { return kFolder.count(name) != 0; });
        if (row.Fault.empty()) {
            EXPECT_TRUE(faults.empty()) << faults.front();
        } else {
            ASSERT_EQ(faults.size(), 1u);
            EXPECT_NE(faults[0].find(row.Fault), std::string::npos) << faults[0];
        }
    }
}

TEST(GuidePage, BuiltGuideResolvesEveryLinkAndPicture)
{
    const std::filesystem::path page = VOSTREL_GUIDE_HTML;
    const std::vector<std::string> faults = PageFileFaults(page);
    std::string text;
    for (const std::string& f : faults)
        text += "  " + f + "\n";
    EXPECT_TRUE(faults.empty()) << page.string() << "\n" << text;
    // The guide shows the window; a page with no picture lost them all.
    int pictures = 0;
    for (const TPageRef& ref : PageRefs(FileText(page)))
        pictures += ref.Attribute == "src";
    EXPECT_GT(pictures, 0);
}

}  // namespace vostrel::docs
