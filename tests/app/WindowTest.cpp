// The window as it starts, and the port change: a port that opens (a
// pseudo-terminal) and one that cannot be opened.
#include "AppTestSupport.h"
#include "Colors.h"
#include "PortError.h"
#include "PortFinder.h"

#include <QTest>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace vostrel;

namespace {

// The master side of a pseudo-terminal; its slave path is a port that opens.
class TPty {
public:
    TPty()
    {
        m_fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0 && grantpt(m_fd) == 0 && unlockpt(m_fd) == 0)
            m_slave = QString::fromLocal8Bit(ptsname(m_fd));
    }
    ~TPty()
    {
        if (m_fd >= 0)
            close(m_fd);
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
        ASSERT_TRUE(WaitStarted(w, 6));
    }

    // Picks an entry as the operator does, with the keyboard.
    void Pick(const QString& entry)
    {
        int index = Ctl<QComboBox>(w, "cbPort")->findText(entry);
        if (index < 0) {
            Ctl<QComboBox>(w, "cbPort")->addItem(entry);
            index = Ctl<QComboBox>(w, "cbPort")->count() - 1;
        }
        Ctl<QComboBox>(w, "cbPort")->setCurrentIndex(index - 1);
        QTest::keyClick(Ctl<QComboBox>(w, "cbPort"), Qt::Key_Down);
        ASSERT_EQ(Ctl<QComboBox>(w, "cbPort")->currentIndex(), index);
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

    EXPECT_TRUE(Ctl<TBevelPanel>(w, "panZastavka")->isVisible());
    EXPECT_EQ(Ctl<TBevelPanel>(w, "panZastavka")->geometry(), QRect(16, 12, 702, 390));
    ASSERT_NE(Ctl<QStackedWidget>(w, "Screens")->currentWidget(), nullptr);
    EXPECT_EQ(Ctl<QStackedWidget>(w, "Screens")->currentWidget()->objectName(), "Default");

    QStringList entries;
    for (int i = 0; i < Ctl<QComboBox>(w, "cbPort")->count(); ++i)
        entries << Ctl<QComboBox>(w, "cbPort")->itemText(i);
    EXPECT_EQ(entries, QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"}));
    EXPECT_EQ(Ctl<QComboBox>(w, "cbPort")->currentText(), "COM1");
    EXPECT_TRUE(Ctl<QComboBox>(w, "cbPort")->isVisible());

    EXPECT_EQ(Ctl<QPushButton>(w, "butProgr")->geometry(), QRect(259, 411, 217, 33));
    EXPECT_EQ(Ctl<QPushButton>(w, "butWaiting")->geometry(), QRect(132, 411, 473, 33));
    EXPECT_TRUE(Ctl<QPushButton>(w, "butWaiting")->geometry().contains(Ctl<QPushButton>(w, "butProgr")->geometry()));
    EXPECT_TRUE(Ctl<QPushButton>(w, "butWaiting")->isVisible());
    EXPECT_FALSE(Ctl<QPushButton>(w, "butWaiting")->isEnabled());
    EXPECT_EQ(Ctl<QPushButton>(w, "butWaiting")->text(), "Ожидание сообщения от станции ...");
    EXPECT_EQ(Ctl<QPushButton>(w, "butProgr")->text(), "    Программирование   ");

    // The editors are in the clear look.
    EXPECT_FALSE(Ctl<TGroupArea>(w, "sGroupBox1")->isEnabled());
    EXPECT_FALSE(Ctl<TGroupArea>(w, "sGroupBox2")->isEnabled());
    EXPECT_EQ(Ctl<TNumEdit>(w, "edZPCH1_RxFreq")->TextColor(), Bgr(kWhite));
    EXPECT_FALSE(Ctl<QLabel>(w, "laKolvoBytes")->isVisibleTo(&w));

    // COM1 reached what the port finder gives it, and either opened (the
    // timer is armed) or said why not.
    const std::string com1 = FindComPorts().front().Path;
    EXPECT_EQ(w.ComPort.DeviceName(), com1.empty() ? std::string("/dev/COM1") : com1);
    if (w.ComPort.IsOpen()) {
        EXPECT_TRUE(Ctl<QTimer>(w, "StartTimer")->isActive());
        EXPECT_TRUE(boxes.Texts.isEmpty());
    } else {
        EXPECT_FALSE(Ctl<QTimer>(w, "StartTimer")->isActive());
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
    EXPECT_TRUE(boxes.Infos[0].contains(SystemErrorText(ENOENT))) << boxes.Infos[0].toStdString();
    EXPECT_FALSE(w.ComPort.IsOpen());
    EXPECT_FALSE(Ctl<QTimer>(w, "StartTimer")->isActive());
    EXPECT_TRUE(StopWaitingFlag);
    // The window keeps its state.
    EXPECT_TRUE(Ctl<TBevelPanel>(w, "panZastavka")->isVisible());
    EXPECT_TRUE(Ctl<QComboBox>(w, "cbPort")->isVisible());
}

TEST_F(WindowTest, PortThatOpensArmsTheTimer)
{
    TPty pty;
    if (pty.SlavePath().isEmpty())
        GTEST_SKIP() << "no pseudo-terminal available";
    boxes.Texts.clear();
    Pick(pty.SlavePath());
    EXPECT_TRUE(boxes.Texts.isEmpty());
    ASSERT_TRUE(w.ComPort.IsOpen());
    EXPECT_EQ(QString::fromStdString(w.ComPort.DeviceName()), pty.SlavePath());
    EXPECT_TRUE(Ctl<QTimer>(w, "StartTimer")->isActive());
    EXPECT_TRUE(Ctl<QTimer>(w, "StartTimer")->isSingleShot());
    EXPECT_EQ(Ctl<QTimer>(w, "StartTimer")->interval(), 555);
    EXPECT_TRUE(StopWaitingFlag);

    // One tick begins the wait and leaves the timer off; the wait runs until
    // something stops it, so look from inside it and then stop it.
    bool seen = false, timerOff = false;
    QTimer::singleShot(1500, &w, [&] {
        seen = true;
        timerOff = !Ctl<QTimer>(w, "StartTimer")->isActive();
        StopWaitingFlag = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen; }, 10000));
    EXPECT_TRUE(timerOff);
    EXPECT_TRUE(
        LogLines(w).contains(QStringLiteral("Начинаем ждать сообщение от станции на порту ") + pty.SlavePath()));

    // Picking the same entry again reopens it and arms the timer again.
    StopWaitingFlag = false;
    emit Ctl<QComboBox>(w, "cbPort")->activated(Ctl<QComboBox>(w, "cbPort")->currentIndex());
    EXPECT_TRUE(w.ComPort.IsOpen());
    EXPECT_TRUE(Ctl<QTimer>(w, "StartTimer")->isActive());
    EXPECT_TRUE(StopWaitingFlag);
    EXPECT_TRUE(boxes.Texts.isEmpty());

    // A port that fails afterwards leaves none open.
    Pick(QStringLiteral("/nonexistent/vostrel-port"));
    EXPECT_FALSE(w.ComPort.IsOpen());
    EXPECT_FALSE(Ctl<QTimer>(w, "StartTimer")->isActive());
    EXPECT_EQ(boxes.Texts.size(), 1);
}

TEST_F(WindowTest, APortThatRefusesItsLineShowsTheMessage)
{
    TPty pty;
    if (pty.SlavePath().isEmpty())
        GTEST_SKIP() << "no pseudo-terminal available";
    Pick(QStringLiteral("/nonexistent/vostrel-port"));
    w.ComPort.SetDatabits(da4);  // the terminal opens, its line settings fail
    boxes.Texts.clear();
    boxes.Infos.clear();
    Pick(pty.SlavePath());
    EXPECT_EQ(boxes.Texts, QStringList{"Не удалось открыть порт " + pty.SlavePath()});
    ASSERT_EQ(boxes.Infos.size(), 1);
    EXPECT_TRUE(boxes.Infos[0].contains(SystemErrorText(EINVAL))) << boxes.Infos[0].toStdString();
    EXPECT_FALSE(w.ComPort.IsOpen());
    EXPECT_FALSE(Ctl<QTimer>(w, "StartTimer")->isActive());
}

TEST_F(WindowTest, ShortEntriesAreIgnored)
{
    Ctl<QComboBox>(w, "cbPort")->addItem(QStringLiteral(" \tC1 "));
    boxes.Texts.clear();
    const std::string before = w.ComPort.DeviceName();
    Pick(QStringLiteral(" \tC1 "));
    EXPECT_TRUE(boxes.Texts.isEmpty());
    EXPECT_EQ(w.ComPort.DeviceName(), before);
}

TEST(WindowLayout, CaptionsWithTheirFontsAndColours)
{
    TfmMain w{NoPortOptions()};
    struct Row {
        const char* text;
        int pixels;
        bool bold;
        bool italic;
        std::uint32_t colour;
        int count;  // how often the caption appears
    };
    const std::uint32_t field = 14258944, band = 9586503, steps = 5789784;
    const Row rows[] = {
        {"Параметры радиоканала", 15, true, false, 0, 1},
        {"Параметры модема", 15, true, false, 0, 1},
        {"ЗПЧ1 (модем)", 13, true, true, band, 1},
        {"ЗПЧ2  (речь)", 13, true, true, band, 1},
        {"Обмен между DTE и DCE", 13, true, true, band, 1},
        {"Помехоустойчивое кодирование", 13, true, true, band, 1},
        {"Шаг сетки частот", 12, true, false, field, 1},
        {"Частота  приёма", 12, true, false, field, 2},
        {"Частота  передачи", 12, true, false, field, 2},
        {"Выходная  мощность", 12, true, false, field, 2},
        {"Скорость COM-порта", 12, true, false, field, 1},
        {"Управление потоком", 12, true, false, field, 1},
        {"Отдавать Xoff после", 12, true, false, field, 1},
        {"Пауза для RxD –> ПРД", 12, true, false, field, 1},
        {"Скорость в эфире", 12, true, false, field, 1},
        {"Помехостойкий код", 12, true, false, field, 1},
        {"Размер кодир. пакета", 12, true, false, field, 1},
        {"кГц", 12, true, false, field, 5},
        {"Вт", 12, true, false, field, 2},
        {"бит/с", 12, true, false, field, 2},
        {"байт", 12, true, false, field, 2},
        {"мс", 12, true, false, field, 1},
        {"Для программирования потребительских параметров необходимо", 19, false, false, 0, 1},
        {"выполнить следующие шаги:", 19, false, false, 0, 1},
        {"–  подключите обесточенное изделие к свободному ", 17, true, false, steps, 1},
        {"COM-порту компьютера", 17, true, false, steps, 1},
        {"–  выберите из списка ниже этот COM-порт ", 17, true, false, steps, 1},
        {"–  включите изделие", 17, true, false, steps, 1},
        {"–  нажатием кнопок \"Ф\" и \"СК\" переведите изделие ", 17, true, false, steps, 1},
        {"в режим программирования", 17, true, false, steps, 1},
        {"–  отредактируйте необходимые параметры ", 17, true, false, steps, 1},
        {"и запрограммируйте изделие", 17, true, false, steps, 1},
        {"Благодарим Вас за использование нашего изделия !", 21, false, false, 17920, 1},
        {"С вопросами и за тех.поддержкой обращайтесь:", 17, true, false, steps, 1},
    };
    const QList<QLabel*> labels = w.findChildren<QLabel*>();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        int found = 0;
        for (QLabel* l : labels) {
            if (l->text() != QString::fromUtf8(r.text))
                continue;
            ++found;
            EXPECT_EQ(l->font().family(), "Arial");
            EXPECT_EQ(l->font().pixelSize(), r.pixels);
            EXPECT_EQ(l->font().bold(), r.bold);
            EXPECT_EQ(l->font().italic(), r.italic);
            EXPECT_EQ(l->palette().color(QPalette::WindowText), Bgr(r.colour));
        }
        EXPECT_EQ(found, r.count);
    }
    // Step lines start at x 130, their continuations at x 150, the first two at 61.
    for (QLabel* l : Ctl<QWidget>(w, "Default")->findChildren<QLabel*>()) {
        SCOPED_TRACE(l->text().toStdString());
        const int x = l->font().pixelSize() == 19 ? 61 : l->text().startsWith(QStringLiteral("–")) ? 130 : 150;
        EXPECT_EQ(l->x(), x);
    }
    EXPECT_EQ(Ctl<QLabel>(w, "laKolvoBytes")->font().family(), "Courier New");
    EXPECT_TRUE(Ctl<QLabel>(w, "laKolvoBytes")->font().italic());
    EXPECT_EQ(Ctl<QLabel>(w, "laKolvoBytes")->font().pixelSize(), 11);
    EXPECT_EQ(w.font().family(), "MS Sans Serif");
    EXPECT_EQ(w.font().pixelSize(), 11);
    for (TLinkLabel* l : {Ctl<TLinkLabel>(w, "sWebLabel1"), Ctl<TLinkLabel>(w, "sWebLabel2")}) {
        EXPECT_TRUE(l->font().underline());
        EXPECT_EQ(l->font().pixelSize(), 16);
        EXPECT_EQ(l->Url().host(), l == Ctl<TLinkLabel>(w, "sWebLabel2") ? "www.example.com" : "");
    }
    EXPECT_FALSE(Ctl<QComboBox>(w, "cbPort")->isEditable());
}

TEST(WindowLayout, AreasAndValuesWithTheirRectanglesAndFonts)
{
    TfmMain w{NoPortOptions()};
    constexpr int any = -1;  // not fixed, or moved at start-up
    struct Row {
        const char* name;
        int x, y, width, height;
        int pixels;  // Arial; 0: no font of its own stated
        bool bold;
    };
    const Row rows[] = {
        {"RzBackground1", 0, 134, 736, 322, 0, false},   {"butProgr", 259, 411, 217, 33, 15, true},
        {"sGroupBox1", 16, 19, 344, 378, 0, false},      {"sGroupBox2", 374, 19, 344, 378, 0, false},
        {"Panel15", 84, 8, 208, 22, 0, false},           {"Panel18", 459, 8, 172, 22, 0, false},
        {"cbPort", 17, 416, 70, any, 15, false},         {"panZastavka", any, 12, 702, 390, 0, false},
        {"butWaiting", 132, any, 473, 33, 15, true},     {"panZPCH1", any, any, 150, 17, 11, true},
        {"panZPCH2", any, any, 150, 17, 11, true},       {"panStep", any, any, any, any, 12, true},
        {"panZPCH1Power", any, any, any, any, 12, true}, {"panBaudRate", any, any, any, any, 12, true},
        {"panKod", any, any, any, any, 12, true},        {"edZPCH2_TxFreq", any, any, any, any, 12, true},
        {"edRxPause", any, any, any, any, 12, true},     {"edKodPaketSize", any, any, any, any, 12, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const QWidget* c = Ctl<QWidget>(w, r.name);
        ASSERT_NE(c, nullptr);
        const QRect g = c->geometry();
        for (const auto& [got, want] : {std::pair{g.x(), r.x}, std::pair{g.y(), r.y}, std::pair{g.width(), r.width},
                                        std::pair{g.height(), r.height}}) {
            if (want != any) {
                EXPECT_EQ(got, want);
            }
        }
        if (r.pixels != 0) {
            EXPECT_EQ(c->font().family(), "Arial");
            EXPECT_EQ(c->font().pixelSize(), r.pixels);
            EXPECT_EQ(c->font().bold(), r.bold);
        }
    }
}

TEST(WindowLayout, InitialEditorState)
{
    TfmMain w{NoPortOptions()};
    struct Row {
        TSelector* selector;
        const char* caption;
        int tag;
    };
    for (const Row& r :
         {Row{Ctl<TSelector>(w, "panStep"), "25,0", 0}, Row{Ctl<TSelector>(w, "panZPCH1"), "разнесённый приём", 0},
          Row{Ctl<TSelector>(w, "panZPCH2"), "разнесённый приём", 0}, Row{Ctl<TSelector>(w, "panZPCH1Power"), "5", 3},
          Row{Ctl<TSelector>(w, "panZPCH2Power"), "5", 3}, Row{Ctl<TSelector>(w, "panBaudRate"), "9600", 0},
          Row{Ctl<TSelector>(w, "panFlowControl"), "none", 0}, Row{Ctl<TSelector>(w, "panEfirSkor"), "2400", 0},
          Row{Ctl<TSelector>(w, "panKod"), "", 0}}) {
        SCOPED_TRACE(r.selector->objectName().toStdString());
        EXPECT_EQ(r.selector->Caption(), QString::fromUtf8(r.caption));
        EXPECT_EQ(r.selector->Tag(), r.tag);
    }
    for (TNumEdit* e : {Ctl<TNumEdit>(w, "edZPCH1_RxFreq"), Ctl<TNumEdit>(w, "edZPCH1_TxFreq"),
                        Ctl<TNumEdit>(w, "edZPCH2_RxFreq"), Ctl<TNumEdit>(w, "edZPCH2_TxFreq")})
        EXPECT_EQ(e->Value(), 145575);
    EXPECT_EQ(Ctl<TNumEdit>(w, "edXoffAfter")->Value(), 55);
    EXPECT_EQ(Ctl<TNumEdit>(w, "edRxPause")->Value(), 432.5L);
    EXPECT_EQ(Ctl<TNumEdit>(w, "edKodPaketSize")->Value(), 55);
    EXPECT_FALSE(Ctl<QLabel>(w, "laKolvoBytes")->isVisibleTo(&w));
    EXPECT_FALSE(Ctl<QTimer>(w, "StartTimer")->isActive());
    EXPECT_EQ(w.ComPort.DeviceName(), "COM1");
    EXPECT_FALSE(Ctl<TExchangeLog>(w, "Memo1")->isVisibleTo(&w));
}

TEST(WindowLayout, ExchangeLogKeepsLinesInOrder)
{
    TfmMain w{NoPortOptions()};
    EXPECT_TRUE(LogLines(w).isEmpty());
    w.AppendLog(std::string("Начинаем ждать сообщение от станции на порту COM1"));
    w.AppendLog(std::string("$10"));
    w.AppendLog(std::string("Читаем."));
    EXPECT_EQ(LogLines(w), QStringList({"Начинаем ждать сообщение от станции на порту COM1", "$10", "Читаем."}));
    EXPECT_FALSE(Ctl<TExchangeLog>(w, "Memo1")->isVisibleTo(&w));
}

}  // namespace
