// vostrel-stand's command line, good and bad, as one table.
#include "StandOptions.h"
#include "CommandOutput.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace vostrel {

TEST(StandOptions, LinesGoodAndBad)
{
    struct TCase {
        const char* Name;
        std::vector<std::string> Args;
        std::vector<std::string> Ports;
        std::string File, Log;
        bool Verify, Start, Help;
        std::string ErrorHas;  // "" when the line is good
    };
    const std::vector<TCase> cases{
        {"nothing", {}, {}, "", "", false, false, false, ""},
        {"all with spaces",
         {"--ports", "COM1,/dev/pts/7", "--file", "a b.txt", "--log", "r.csv", "--verify", "--start"},
         {"COM1", "/dev/pts/7"},
         "a b.txt",
         "r.csv",
         true,
         true,
         false,
         ""},
        {"with equals signs", {"--ports=COM2", "--file=f.txt"}, {"COM2"}, "f.txt", "", false, false, false, ""},
        {"ports repeated add up",
         {"--ports", "COM1", "--ports=COM3"},
         {"COM1", "COM3"},
         "",
         "",
         false,
         false,
         false,
         ""},
        {"help", {"--help"}, {}, "", "", false, false, true, ""},
        {"short help", {"-h"}, {}, "", "", false, false, true, ""},
        {"unknown option", {"--each"}, {}, "", "", false, false, false, "неизвестный ключ --each"},
        {"value missing at the end", {"--file"}, {}, "", "", false, false, false, "после --file нужно значение"},
        {"empty value", {"--log="}, {}, "", "", false, false, false, "пустое значение --log"},
        {"empty port in the list", {"--ports", "COM1,,COM2"}, {}, "", "", false, false, false, "пустое имя"},
        {"trailing comma", {"--ports", "COM1,"}, {}, "", "", false, false, false, "пустое имя"},
        {"flag with a value", {"--verify=yes"}, {}, "", "", false, false, false, "не принимает значения"},
        {"stray argument", {"plan.txt"}, {}, "", "", false, false, false, "лишний аргумент «plan.txt»"},
        {"kept before the mistake", {"--verify", "-x"}, {}, "", "", true, false, false, "неизвестный ключ -x"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TStandOptions o = ParseStandOptions(c.Args);
        if (c.ErrorHas.empty()) {
            EXPECT_EQ(o.Error, "");
            EXPECT_EQ(o.Ports, c.Ports);
            EXPECT_EQ(o.File, c.File);
            EXPECT_EQ(o.Log, c.Log);
            EXPECT_EQ(o.Start, c.Start);
            EXPECT_EQ(o.Help, c.Help);
        } else {
            EXPECT_NE(o.Error.find(c.ErrorHas), std::string::npos) << o.Error;
            EXPECT_NE(o.Error.find("vostrel-stand --help"), std::string::npos) << o.Error;
        }
        EXPECT_EQ(o.Verify, c.Verify);
    }
}

// A shortcut's --help or --version is answered without a window: with no
// platform to show one on, the program would abort instead.
TEST(StandOptions, HelpAndVersionNeedNoWindow)
{
    const struct {
        const char* Args;
        const char* Begins;
    } rows[] = {{"--version", "vostrel-stand " VOSTREL_VERSION "\n"}, {"--help", "Использование: vostrel-stand"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Args);
        const std::string command =
            std::string("QT_QPA_PLATFORM=no-such-platform '") + VOSTREL_STAND + "' " + row.Args + " 2>/dev/null";
        int status = -1;
        const std::string text = CommandOutput(command, status);
        ASSERT_NE(status, -1);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(text.rfind(row.Begins, 0), 0u) << text;
    }
}

}  // namespace vostrel
