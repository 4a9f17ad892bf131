// Preparing a port's open as the window and vostrel-cli do: which device a
// name opens, what refuses the open before it is tried, and how the failure
// is worded in the window's box and in the command line's one text.
#include "PortOpening.h"
#include "PortError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include <unistd.h>

namespace vostrel {
namespace {

namespace fs = std::filesystem;

TEST(PortOpening, StepsRefuseAndWordTheFailure)
{
    // /dev/null stands for a real device: it has lock files and holders.
    const fs::path locks = fs::path(::testing::TempDir()) / ("portopening." + std::to_string(::getpid()));
    fs::create_directories(locks);
    const std::vector<TPresentPort> present{{"/dev/null", TPresentPort::TKind::Usb, "1-1", "FTDI"}};
    TPortChoice reached;
    reached.Name = "COM1";
    reached.Path = "/dev/null";
    reached.Description = "FTDI";
    TPortChoice away = reached;
    away.Path.clear();
    away.Away = true;
    away.AwayFrom = "/dev/ttyUSB0";
    const QString report = "COM1: " + PortToolTip(reached) + '\n' + PresentPortsText(present);
    const QString held = "Причина: " + SystemErrorText(EBUSY) + ".\nПорт занят: его держит другая программа";

    struct Row {
        const char* label;
        QString name;
        std::vector<TPortChoice> choices;
        std::function<void(TPortOpening&)> steps;  // after Choose
        bool refused;
        std::string path;
        QString details;  // the box's informative text
    };
    const auto lockAndLook = [&](std::vector<std::string> holders) {
        return [&, holders](TPortOpening& o) {
            EXPECT_TRUE(o.Shared());
            TPortLock lock = o.Lock(locks.string());
            if (!o.Refused()) {
                EXPECT_TRUE(lock.Held());
                o.Unheld(holders);
            }
        };
    };
    const Row rows[] = {
        {"an away name opens nothing",
         "COM1",
         {away},
         nullptr,
         true,
         "/dev/COM1",
         AwayText(away) + '\n' + PresentPortsText(present)},
        {"the open's code with its advice",
         "COM1",
         {reached},
         [](TPortOpening& o) { o.Failed(EACCES, "ignored"); },
         false,
         "/dev/null",
         "Причина: " + SystemErrorText(EACCES) +
             ".\nНет прав на устройство: пользователь должен входить в группу, которой принадлежит устройство "
             "(обычно dialout), затем войти в систему заново.\n\n" +
             report},
        {"the component's message without a code",
         "/dev/null",
         {reached},
         [](TPortOpening& o) { o.Failed(0, " Timeout \n"); },
         false,
         "/dev/null",
         "Причина: Timeout."},
        {"a holder without a lock",
         "/dev/null",
         {},
         lockAndLook({"minicom (PID 4242)", "cu (PID 7)"}),
         true,
         "/dev/null",
         held + ": minicom (PID 4242), cu (PID 7)."},
        {"a fresh lock file that names nobody",
         "/dev/null",
         {},
         [&](TPortOpening& o) {
             std::ofstream(locks / "LCK..null") << "garbage";
             lockAndLook({"never asked"})(o);
         },
         true,
         "/dev/null",
         held + ": файл блокировки " + QString::fromStdString((locks / "LCK..null").string()) + '.'},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TPortOpening opening(row.name);
        EXPECT_EQ(opening.Choose(row.choices, present), row.choices.empty() || !row.choices.front().Away);
        if (row.steps)
            row.steps(opening);
        EXPECT_EQ(opening.Refused(), row.refused);
        EXPECT_EQ(opening.Path(), row.path);
        EXPECT_EQ(opening.FailureTitle(), "Не удалось открыть порт " + row.name);
        EXPECT_EQ(opening.FailureDetails(), row.details);
        // The command line's one text: the reason under the title, the report after a blank line.
        QString whole = opening.FailureDetails();
        if (!whole.startsWith(QStringLiteral("Причина")))
            whole.prepend('\n');
        EXPECT_EQ(opening.FailureText(), opening.FailureTitle() + '\n' + whole);
    }
    fs::remove_all(locks);
}

}  // namespace
}  // namespace vostrel
