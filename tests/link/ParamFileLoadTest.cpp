// Loading a parameter file from disk: each way it fails has its own text,
// the limit is read to its last byte, and a failure leaves the file alone.
#include "ParamFileLoad.h"

#include "StationSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace vostrel {
namespace {

namespace fs = std::filesystem;
using TStatus = TParamFileLoad::TStatus;

TEST(ParamFileLoad, EachFailureHasItsText)
{
    const fs::path dir = fs::path(::testing::TempDir()) / ("paramload." + std::to_string(::getpid()));
    fs::create_directories(dir);
    const auto Write = [](const fs::path& path, const std::string& text) { std::ofstream(path) << text; };
    TParamFile good;
    good.Note = "вышка 3";
    good.Set = ShownSet(DefaultStationBlock(), {});
    const std::string text = FormatParamFile(good);
    const std::string padded = text + "#" + std::string(kMaxParamFileBytes - text.size() - 2, 'x') + "\n";
    ASSERT_EQ(padded.size(), kMaxParamFileBytes);
    Write(dir / "параметры.txt", text);
    Write(dir / "largest.txt", padded);
    Write(dir / "larger.txt", padded + "\n");
    Write(dir / "bad.txt", text + "Неизвестное: 1\n");
    Write(dir / "secret.txt", text);
    fs::permissions(dir / "secret.txt", fs::perms::none);
    fs::create_directory(dir / "folder");
    const int badLine = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;

    struct Row {
        const char* label;
        fs::path path;
        TStatus status;
        std::string text;  // the whole text, or its start when it ends with the system's words
    };
    const Row rows[] = {
        {"a name in Cyrillic", dir / "параметры.txt", TStatus::Loaded, ""},
        {"exactly the limit", dir / "largest.txt", TStatus::Loaded, ""},
        {"missing", dir / "none.txt", TStatus::Missing, "Файла нет"},
        {"a folder", dir / "folder", TStatus::Folder, "Это папка, а не файл"},
        {"no read permission", dir / "secret.txt", TStatus::NoRights, "Нет прав на чтение файла"},
        // Reading a process's memory at address 0 fails with EIO.
        {"a read that fails", "/proc/self/mem", TStatus::Unreadable, "Файл не читается: "},
        {"one byte over the limit", dir / "larger.txt", TStatus::TooLarge,
         "Это не файл параметров: он слишком велик, больше 64 КиБ"},
        {"refused by the parser", dir / "bad.txt", TStatus::Refused,
         "Строка " + std::to_string(badLine) + ", поле «Неизвестное»: неизвестное поле"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.status == TStatus::NoRights && ::geteuid() == 0) {
            // Nothing stops root from reading it.
            continue;
        }
        TParamFile out;
        out.Note = "untouched";
        const std::u8string name = row.path.u8string();
        const TParamFileLoad load = LoadParamFileAt(std::string(name.begin(), name.end()), out);
        EXPECT_EQ(load.Status, row.status) << load.Text;
        if (row.status == TStatus::Unreadable) {
            EXPECT_EQ(load.Text.rfind(row.text, 0), 0u) << load.Text;
            EXPECT_GT(load.Text.size(), row.text.size()) << "the system's words are missing";
        } else {
            EXPECT_EQ(load.Text, row.text);
        }
        EXPECT_EQ(out.Note, load.Loaded() ? good.Note : "untouched");
        EXPECT_EQ(out.Set, load.Loaded() ? good.Set : TParameterSet{});
    }
    fs::permissions(dir / "secret.txt", fs::perms::owner_all);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vostrel
