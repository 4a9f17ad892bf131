// The window as it starts, and the port change: a port that opens (a
// pseudo-terminal) and one that cannot be opened.
#include "AppTestSupport.h"
#include "Colors.h"

#include <QTest>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The master side of a pseudo-terminal; its slave path is a port that opens.
class TPty {
public:
    TPty()
    {
        m_fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0 && grantpt(m_fd) == 0 && unlockpt(m_fd) == 0) m_slave = QString::fromLocal8Bit(ptsname(m_fd));
    }
    ~TPty()
    {
        if (m_fd >= 0) close(m_fd);
    }
    const QString& SlavePath() const { return m_slave; }
    int MasterFd() const { return m_fd; }

private:
    int m_fd = -1;
    QString m_slave;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        w.show();
        ASSERT_TRUE(QTest::qWaitFor([this] { return w.Started(); }, 10000));
    }

    // Picks an entry as the operator does, with the keyboard.
    void Pick(const QString& entry)
    {
        int index = w.cbPort->findText(entry);
        if (index < 0) {
            w.cbPort->addItem(entry);
            index = w.cbPort->count() - 1;
        }
        w.cbPort->setCurrentIndex(index - 1);
        QTest::keyClick(w.cbPort, Qt::Key_Down);
        ASSERT_EQ(w.cbPort->currentIndex(), index);
    }

    TModalBoxCloser boxes;
    TfmMain w;
};

TEST_F(WindowTest, StartsWithTheInstructionPage)
{
    EXPECT_EQ(w.windowTitle(), "Vostrel");
    EXPECT_EQ(w.size(), QSize(736, 456));
    EXPECT_EQ(w.minimumSize(), w.maximumSize()) << "fixed size";
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w.palette().color(QPalette::Window), QColor(Qt::white));

    EXPECT_TRUE(w.panZastavka->isVisible());
    EXPECT_EQ(w.panZastavka->geometry(), QRect(16, 12, 702, 390));
    ASSERT_NE(w.Screens->currentWidget(), nullptr);
    EXPECT_EQ(w.Screens->currentWidget()->objectName(), "Default");

    QStringList entries;
    for (int i = 0; i < w.cbPort->count(); ++i) entries << w.cbPort->itemText(i);
    EXPECT_EQ(entries, QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"}));
    EXPECT_EQ(w.cbPort->currentText(), "COM1");
    EXPECT_TRUE(w.cbPort->isVisible());

    EXPECT_EQ(w.butProgr->geometry(), QRect(259, 411, 217, 33));
    EXPECT_EQ(w.butWaiting->geometry(), QRect(132, 411, 473, 33));
    EXPECT_TRUE(w.butWaiting->geometry().contains(w.butProgr->geometry()));
    EXPECT_TRUE(w.butWaiting->isVisible());
    EXPECT_FALSE(w.butWaiting->isEnabled());
    EXPECT_EQ(w.butWaiting->text(), "Ожидание сообщения от станции ...");
    EXPECT_EQ(w.butProgr->text(), "    Программирование   ");

    // The editors are in the clear look.
    EXPECT_FALSE(w.sGroupBox1->isEnabled());
    EXPECT_FALSE(w.sGroupBox2->isEnabled());
    EXPECT_EQ(w.edZPCH1_RxFreq->TextColor(), BgrColor(clWhiteBgr));
    EXPECT_FALSE(w.laKolvoBytes->isVisibleTo(&w));

    // COM1 either opened (the timer is armed) or said why not.
    EXPECT_EQ(w.ComPort.DeviceName(), "COM1");
    if (w.ComPort.IsOpen()) {
        EXPECT_TRUE(w.StartTimer->isActive());
        EXPECT_TRUE(boxes.Texts.isEmpty());
    } else {
        EXPECT_FALSE(w.StartTimer->isActive());
        EXPECT_EQ(boxes.Texts, QStringList{"Не удалось открыть порт COM1"});
    }
}

TEST_F(WindowTest, PortThatFailsShowsTheMessage)
{
    const QString missing = QStringLiteral("/nonexistent/vostrel-port");
    boxes.Texts.clear();
    boxes.Infos.clear();
    Pick(missing);
    EXPECT_EQ(boxes.Texts, QStringList{"Не удалось открыть порт " + missing});
    ASSERT_EQ(boxes.Infos.size(), 1);
    EXPECT_TRUE(boxes.Infos[0].contains(QString::fromLocal8Bit(std::strerror(ENOENT)))) << boxes.Infos[0].toStdString();
    EXPECT_FALSE(w.ComPort.IsOpen());
    EXPECT_FALSE(w.StartTimer->isActive());
    EXPECT_TRUE(StopWaitingFlag);
    // The window keeps its state.
    EXPECT_TRUE(w.panZastavka->isVisible());
    EXPECT_TRUE(w.cbPort->isVisible());
}

TEST_F(WindowTest, PortThatOpensArmsTheTimer)
{
    TPty pty;
    if (pty.SlavePath().isEmpty()) GTEST_SKIP() << "no pseudo-terminal available";
    boxes.Texts.clear();
    Pick(pty.SlavePath());
    EXPECT_TRUE(boxes.Texts.isEmpty());
    ASSERT_TRUE(w.ComPort.IsOpen());
    EXPECT_EQ(QString::fromStdString(w.ComPort.DeviceName()), pty.SlavePath());
    EXPECT_TRUE(w.StartTimer->isActive());
    EXPECT_TRUE(w.StartTimer->isSingleShot());
    EXPECT_EQ(w.StartTimer->interval(), 555);
    EXPECT_TRUE(StopWaitingFlag);

    // One tick, then the timer is off until a port is picked again.
    ASSERT_TRUE(QTest::qWaitFor([this] { return !w.StartTimer->isActive(); }, 5000));

    // Picking the same entry again reopens it and arms the timer again.
    StopWaitingFlag = false;
    emit w.cbPort->activated(w.cbPort->currentIndex());
    EXPECT_TRUE(w.ComPort.IsOpen());
    EXPECT_TRUE(w.StartTimer->isActive());
    EXPECT_TRUE(StopWaitingFlag);
    EXPECT_TRUE(boxes.Texts.isEmpty());

    // A port that fails afterwards leaves none open.
    Pick(QStringLiteral("/nonexistent/vostrel-port"));
    EXPECT_FALSE(w.ComPort.IsOpen());
    EXPECT_FALSE(w.StartTimer->isActive());
    EXPECT_EQ(boxes.Texts.size(), 1);
}

TEST_F(WindowTest, PortIoCarriesBytesBothWays)
{
    TPty pty;
    if (pty.SlavePath().isEmpty()) GTEST_SKIP() << "no pseudo-terminal available";
    Pick(pty.SlavePath());
    ASSERT_TRUE(w.ComPort.IsOpen());

    const std::uint8_t out[] = {0x10, 0x08, 0x00, 0x03};
    EXPECT_EQ(w.ComPortIo.WriteBytes(out, 4), 4);
    std::uint8_t got[8] = {};
    ssize_t n = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const ssize_t r = read(pty.MasterFd(), got + n, sizeof got - static_cast<std::size_t>(n));
        if (r > 0) n += r;
        return n >= 4;
    }, 3000));
    EXPECT_EQ(std::memcmp(got, out, 4), 0);

    const std::uint8_t in[] = {0x10, 0x00, 0x55, 0x03};
    ASSERT_EQ(write(pty.MasterFd(), in, 4), 4);
    ASSERT_TRUE(QTest::qWaitFor([this] { return w.ComPortIo.InputCount() >= 4; }, 3000));
    std::uint8_t back[4] = {};
    EXPECT_EQ(w.ComPortIo.ReadBytes(back, 4), 4);
    EXPECT_EQ(std::memcmp(back, in, 4), 0);
    EXPECT_EQ(w.ComPortIo.InputCount(), 0);
}

TEST_F(WindowTest, ShortEntriesAreIgnored)
{
    w.cbPort->addItem(QStringLiteral(" \tC1 "));
    boxes.Texts.clear();
    Pick(QStringLiteral(" \tC1 "));
    EXPECT_TRUE(boxes.Texts.isEmpty());
    EXPECT_EQ(w.ComPort.DeviceName(), "COM1");
}

}  // namespace
