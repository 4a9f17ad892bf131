// Preparing a port's open as the window and vostrel-cli do: which device a
// name opens, what refuses the open before it is tried, and how the failure
// is worded in the window's box and in the command line's one text.
#include "PortOpening.h"
#include "PortError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace vostrel {
namespace {

namespace fs = std::filesystem;

TEST(PortOpening, StepsRefuseAndWordTheFailure)
{
    // /dev/null stands for a real device: it has lock files and holders.
    const fs::path locks = fs::path(::testing::TempDir()) / ("portopening." + std::to_string(::getpid()));
    fs::create_directories(locks);
    const std::string lockFile = (locks / "LCK..null").string();
    const std::vector<TPresentPort> present{{"/dev/null", TPresentPort::TKind::Usb, "1-1", "FTDI"}};
    TPortChoice reached;
    reached.Name = "COM1";
    reached.Path = "/dev/null";
    reached.Description = "FTDI";
    TPortChoice away = reached;
    away.Path.clear();
    away.Away = true;
    away.AwayFrom = "/dev/ttyUSB0";
    const QString report = "\n\nCOM1: " + PortToolTip(reached) + '\n' + PresentPortsText(present);
    const QString held = "Причина: " + SystemErrorText(EBUSY) + ".\nПорт занят: его держит другая программа: ";

    enum class TStep { None, NoRights, Message, Held, Locked };
    struct Row {
        const char* label;
        const TPortChoice& choice;
        TStep step;
        bool refused;
        QString details;  // the box's informative text
    };
    const Row rows[] = {
        {"an away name opens nothing", away, TStep::None, true, AwayText(away) + '\n' + PresentPortsText(present)},
        {"the code with its advice", reached, TStep::NoRights, false,
         "Причина: " + SystemErrorText(EACCES) +
             ".\nНет прав на устройство: пользователь должен входить в группу, которой принадлежит устройство "
             "(обычно dialout), затем войти в систему заново." +
             report},
        {"a message without a code", reached, TStep::Message, false, "Причина: Timeout." + report},
        {"holders without a lock", reached, TStep::Held, true, held + "minicom (PID 4242), cu (PID 7)." + report},
        {"a fresh lock that names nobody", reached, TStep::Locked, true,
         held + "файл блокировки " + QString::fromStdString(lockFile) + '.' + report},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TPortOpening opening(QStringLiteral("COM1"));
        EXPECT_EQ(opening.Choose({row.choice}, present), !row.choice.Away);
        EXPECT_EQ(opening.Path(), row.choice.Away ? "/dev/COM1" : "/dev/null");
        if (row.step == TStep::NoRights || row.step == TStep::Message) {
            opening.Failed(row.step == TStep::NoRights ? EACCES : 0, QStringLiteral(" Timeout \n"));
        } else if (row.step != TStep::None) {
            if (row.step == TStep::Locked)
                std::ofstream(lockFile) << "garbage";
            ASSERT_TRUE(opening.Shared());
            const TPortLock lock = opening.Lock(locks.string());
            EXPECT_EQ(lock.Held(), row.step == TStep::Held);
            if (lock.Held())
                opening.Unheld({"minicom (PID 4242)", "cu (PID 7)"});
        }
        EXPECT_EQ(opening.Refused(), row.refused);
        EXPECT_EQ(opening.FailureTitle(), QStringLiteral("Не удалось открыть порт COM1"));
        EXPECT_EQ(opening.FailureDetails(), row.details);
        // The command line's one text: the reason under the title, the report after a blank line.
        const QString details = opening.FailureDetails();
        EXPECT_EQ(opening.FailureText(),
                  opening.FailureTitle() + (details.startsWith(QStringLiteral("Причина")) ? "\n" : "\n\n") + details);
    }
    fs::remove_all(locks);
}

}  // namespace
}  // namespace vostrel
