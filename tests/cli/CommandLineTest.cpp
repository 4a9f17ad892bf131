// The command line, and the commands that need no station: show and diff.
#include "Commands.h"

#include "ParamFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace vostrel {

namespace {

namespace fs = std::filesystem;

struct TCase {
    const char* Name;
    std::vector<std::string> Args;
    TCommand Command;  // None: a usage error
};

// Runs a command in this process with its output taken into strings.
struct TCaptured {
    int Code = -1;
    std::string Out, Err;
};

std::string Drain(std::FILE* f)
{
    std::rewind(f);
    std::string s;
    for (int c; (c = std::fgetc(f)) != EOF;)
        s.push_back(static_cast<char>(c));
    std::fclose(f);
    return s;
}

TCaptured RunCli(const std::vector<std::string>& args)
{
    TCliContext context;
    context.Out = std::tmpfile();
    context.Err = std::tmpfile();
    context.CopiesFolder = "/nonexistent/copies";
    TCaptured c;
    c.Code = RunCommand(ParseCommandLine(args), context);
    c.Out = Drain(context.Out);
    c.Err = Drain(context.Err);
    return c;
}

}  // namespace

TEST(CliCommandLine, CommandsOperandsAndOptions)
{
    const TCase cases[] = {
        {"read", {"read", "-v", "COM1", "--output", "f.txt"}, TCommand::Read},
        {"read, joined -o", {"read", "-of.txt", "/dev/ttyUSB0"}, TCommand::Read},
        {"read without -o", {"read", "COM1"}, TCommand::None},
        {"read, -o without a file", {"read", "COM1", "-o"}, TCommand::None},
        {"program --each", {"program", "--each", "COM1", "f.txt"}, TCommand::Program},
        {"program with -o", {"program", "COM1", "f.txt", "-o", "g.txt"}, TCommand::None},
        {"restore --yes", {"restore", "COM1", "c.txt", "-y"}, TCommand::Restore},
        {"restore --each", {"restore", "COM1", "c.txt", "--each"}, TCommand::None},
        {"show, a file named like an option", {"show", "--", "-f.txt"}, TCommand::Show},
        {"diff, one file", {"diff", "a.txt"}, TCommand::None},
        {"empty port", {"read", "", "-o", "f.txt"}, TCommand::None},
        {"help anywhere", {"program", "--help"}, TCommand::Help},
        {"nothing", {}, TCommand::None},
        {"unknown option", {"show", "f.txt", "--force"}, TCommand::None},
        {"several ports", {"program", "COM1, com2,/dev/ttyUSB0", "f.txt", "--verify"}, TCommand::Program},
        {"a port twice", {"program", "COM1,com1", "f.txt"}, TCommand::None},
        {"an empty port in the list", {"read", "COM1,,COM2", "-o", "f.txt"}, TCommand::None},
        {"several ports to restore", {"restore", "COM1,COM2", "c.txt"}, TCommand::None},
        {"--verify on read", {"read", "COM1", "-o", "f.txt", "--verify"}, TCommand::None},
        {"two ports, one file name", {"read", "/dev/a/ttyS0,/dev/b/ttyS0", "-o", "f.txt"}, TCommand::None},
        {"program --log", {"program", "COM1", "f.txt", "--log", "r.csv"}, TCommand::Program},
        {"restore --log=", {"restore", "COM1", "c.txt", "--log=r.csv"}, TCommand::Restore},
        {"--log on show", {"show", "f.txt", "--log", "r.csv"}, TCommand::None},
        {"--log without a file", {"program", "COM1", "f.txt", "--log"}, TCommand::None},
        {"--log into the parameter file", {"program", "COM1", "f.txt", "--log", "f.txt"}, TCommand::None},
        {"--log into a port's output", {"read", "COM1,COM2", "-o", "f.txt", "--log", "f-COM2.txt"}, TCommand::None},
        {"version", {"--version"}, TCommand::Version},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TCommandLine line = ParseCommandLine(c.Args);
        EXPECT_EQ(line.Command, c.Command);
        EXPECT_EQ(line.Error.empty(), c.Command != TCommand::None) << line.Error;
    }
    const TCommandLine read = ParseCommandLine(cases[0].Args);
    EXPECT_EQ(read.Ports, std::vector<std::string>{"COM1"});
    EXPECT_EQ(read.Output, "f.txt");
    EXPECT_TRUE(read.Verbose);
    EXPECT_EQ(ParseCommandLine(cases[8].Args).Files, std::vector<std::string>{"-f.txt"});
    EXPECT_EQ(ParseCommandLine(cases[20].Args).Log, "r.csv");
    EXPECT_EQ(ParseCommandLine(cases[14].Args).Ports, (std::vector<std::string>{"COM1", "COM2", "/dev/ttyUSB0"}));

    // A usage error says so, points to the help and sends nothing anywhere.
    const TCaptured usage = RunCli({"program", "COM1"});
    EXPECT_EQ(usage.Code, ExitCode::Usage);
    EXPECT_NE(usage.Err.find("--help"), std::string::npos);
    const TCaptured help = RunCli({"--help"});
    EXPECT_EQ(help.Code, ExitCode::Done);
    for (const char* part :
         {"read", "program", "restore", "show", "diff", "--each", "--log", "130", "/nonexistent/copies"})
        EXPECT_NE(help.Out.find(part), std::string::npos) << part;
    const TCaptured version = RunCli({"--version"});
    EXPECT_EQ(version.Code, ExitCode::Done);
    EXPECT_EQ(version.Out, "vostrel-cli " VOSTREL_VERSION "\n");
}

// The help's usage line of a command names an option exactly when the parser
// takes it with that command.
TEST(CliCommandLine, UsageLinesNameTheOptionsTheParserTakes)
{
    const std::string help = RunCli({"--help"}).Out;
    const struct {
        const char* Command;
        std::vector<std::string> Operands;
    } commands[] = {{"read", {"COM1", "-o", "f.txt"}},
                    {"program", {"COM1", "f.txt"}},
                    {"restore", {"COM1", "c.txt"}},
                    {"show", {"f.txt"}},
                    {"diff", {"a.txt", "b.txt"}}};
    const struct {
        const char* InUsage;
        std::vector<std::string> Given;
    } options[] = {{"[--each]", {"--each"}},
                   {"[--yes]", {"--yes"}},
                   {"[--verify]", {"--verify"}},
                   {"[--log ФАЙЛ]", {"--log", "r.csv"}}};
    for (const auto& c : commands) {
        const std::size_t at = help.find(std::string("  vostrel-cli ") + c.Command + " ");
        ASSERT_NE(at, std::string::npos) << c.Command;
        const std::string usage = help.substr(at, help.find('\n', at) - at);
        for (const auto& o : options) {
            SCOPED_TRACE(std::string(c.Command) + " " + o.InUsage);
            std::vector<std::string> args{c.Command};
            args.insert(args.end(), c.Operands.begin(), c.Operands.end());
            args.insert(args.end(), o.Given.begin(), o.Given.end());
            const TCommandLine line = ParseCommandLine(args);
            EXPECT_EQ(line.Error.empty(), usage.find(o.InUsage) != std::string::npos) << usage << " / " << line.Error;
        }
    }
}

TEST(CliFiles, ShowAndDiffAsTheWindowShows)
{
    const fs::path dir = fs::temp_directory_path() / ("vostrel-cli-files-" + std::to_string(getpid()));
    fs::create_directories(dir);
    TParamFile a;
    a.Note = "станция 7";
    a.Set.StepCode = 1;
    a.Set.RxFreq = {150000.0L, 150000.0L};
    a.Set.TxFreq = {150000.0L, 160000.0L};
    a.Set.Simplex = {true, false};
    a.Set.PowerCode = {1, 2};
    a.Set.RxPause = 10.0L;
    a.Set.XoffAfter = 100;
    a.Set.KodPaketSize = 24;
    TParamFile b = a;
    b.Set.PowerCode[1] = 3;
    b.Set.RxFreq[1] = 151012.5L;
    std::ofstream(dir / "a.txt") << FormatParamFile(a);
    std::ofstream(dir / "b.txt") << FormatParamFile(b);
    std::ofstream(dir / "bad.txt") << "Vostrel parameters, format 1\nШаг сетки частот: 20,0 кГц\n";

    const TCaptured shown = RunCli({"show", (dir / "a.txt").string()});
    EXPECT_EQ(shown.Code, ExitCode::Done) << shown.Err;
    for (const char* part : {"станция 7", "12,5 кГц", "150000,0 кГц", "160000,0 кГц", "симплекс", "10 Вт", "10,00 мс"})
        EXPECT_NE(shown.Out.find(part), std::string::npos) << part << "\n" << shown.Out;

    const TCaptured same = RunCli({"diff", (dir / "a.txt").string(), (dir / "a.txt").string()});
    EXPECT_EQ(same.Code, ExitCode::Done);
    EXPECT_TRUE(same.Out.empty()) << same.Out;
    const TCaptured differ = RunCli({"diff", (dir / "a.txt").string(), (dir / "b.txt").string()});
    EXPECT_EQ(differ.Code, ExitCode::Differ);
    EXPECT_EQ(std::count(differ.Out.begin(), differ.Out.end(), '\n'), 2) << differ.Out;
    EXPECT_NE(differ.Out.find("150000,0 → 151012,5 кГц"), std::string::npos) << differ.Out;
    EXPECT_NE(differ.Out.find("10 → 5 Вт"), std::string::npos) << differ.Out;

    // Off the 12,5 kHz grid: show, diff and program all say what will be sent.
    TParamFile off = a;
    off.Set.RxFreq[0] = off.Set.TxFreq[0] = 150005.0L;
    std::ofstream(dir / "off.txt") << FormatParamFile(off);
    const std::string sent = "150005,0 → будет отправлено 150000,0 кГц";
    const TCaptured offShown = RunCli({"show", (dir / "off.txt").string()});
    for (const char* field : {"ЗПЧ1 приём:", "ЗПЧ1 передача:"}) {
        std::string value = offShown.Out.substr(offShown.Out.find(field) + std::strlen(field));
        value = value.substr(value.find_first_not_of(' '));
        EXPECT_EQ(value.substr(0, value.find('\n')), sent) << offShown.Out;
    }
    const TCaptured offDiff = RunCli({"diff", (dir / "a.txt").string(), (dir / "off.txt").string()});
    EXPECT_EQ(offDiff.Code, ExitCode::Differ);
    EXPECT_NE(offDiff.Out.find("off.txt: ЗПЧ1 приём: " + sent), std::string::npos) << offDiff.Out;
    EXPECT_EQ(offDiff.Out.find("a.txt: "), std::string::npos) << offDiff.Out;

    // read refuses an output it could not write before any port is opened:
    // the port named here does not exist, which would fail with code 3.
    const bool root = geteuid() == 0;
    std::ofstream(dir / "read-only.txt") << "";
    fs::permissions(dir / "read-only.txt", fs::perms::owner_read);
    const struct {
        const char* Name;
        std::string Output, Why;
    } outputs[] = {
        {"a folder", dir.string(), "это папка"},
        {"a missing folder", (dir / "none" / "station.txt").string(), "нет папки"},
        {"a file for a folder", (dir / "a.txt" / "station.txt").string(), "на месте папки файл"},
        {"an unwritable folder (not as root)", root ? "" : "/proc/sys/station.txt", "нет права записи"},
        {"a read-only file (not as root)", root ? "" : (dir / "read-only.txt").string(), "файл только для чтения"},
    };
    for (const auto& o : outputs) {
        SCOPED_TRACE(o.Name);
        if (o.Output.empty())
            continue;
        const TCaptured read = RunCli({"read", "/nonexistent/ttyS9", "-o", o.Output});
        EXPECT_EQ(read.Code, ExitCode::NotWritten) << read.Err;
        EXPECT_NE(read.Err.find("Файл " + o.Output + " не записать: " + o.Why), std::string::npos) << read.Err;
    }

    const TCaptured bad = RunCli({"show", (dir / "bad.txt").string()});
    EXPECT_EQ(bad.Code, ExitCode::BadFile);
    EXPECT_NE(bad.Err.find("Строка 2"), std::string::npos) << bad.Err;
    EXPECT_NE(bad.Err.find("Шаг сетки частот"), std::string::npos) << bad.Err;
    const TCaptured missing = RunCli({"diff", (dir / "a.txt").string(), (dir / "none.txt").string()});
    EXPECT_EQ(missing.Code, ExitCode::BadFile);
    EXPECT_NE(missing.Err.find("none.txt"), std::string::npos);
    fs::remove_all(dir);
}

}  // namespace vostrel
