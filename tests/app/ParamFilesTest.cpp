// The window keeps a copy of every block before it can be overwritten, and
// saves and loads parameter files through its menu, against a simulated
// station on a pty.
#include "AppTestSupport.h"

#include "ParamFile.h"
#include "StationSimulator.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

using namespace vostrel;

namespace {

using namespace std::chrono_literals;

// The editors' values with the duplex toggles as they show.
TParameterSet Editors(const TfmMain& w)
{
    TParameterSet s = w.ReadParameters();
    s.Simplex = {Ctl<TSelector>(w, "panZPCH1")->Tag() == 1, Ctl<TSelector>(w, "panZPCH2")->Tag() == 1};
    return s;
}

QStringList Files(const QString& folder, const QString& pattern = QStringLiteral("*"))
{
    return QDir(folder).entryList({pattern}, QDir::Files, QDir::Name);
}

// Calls seen for every event of the given type, to any object, while it lives.
class TEventWatch : public QObject {
public:
    TEventWatch(QEvent::Type type, std::function<void(QObject*)> seen) : m_type(type), m_seen(std::move(seen))
    {
        qApp->installEventFilter(this);
    }
    bool eventFilter(QObject* target, QEvent* e) override
    {
        if (e->type() == m_type)
            m_seen(target);
        return false;
    }

private:
    QEvent::Type m_type;
    std::function<void(QObject*)> m_seen;
};

bool Parse(const QString& path, TParamFile& out)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    TParamFileError error;
    const bool ok = ParseParamFile(f.readAll().toStdString(), out, error);
    EXPECT_TRUE(ok) << path.toStdString() << ": " << DescribeParamFileError(error);
    return ok;
}

void Write(const QString& path, const std::string& text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.data(), static_cast<qint64>(text.size()));
}

// Right click on a control, as the platform delivers it: to the control
// under the pointer first.
QWidget* RightClick(QWidget* target)
{
    const QPoint at = target->rect().center();
    QContextMenuEvent e(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
    QApplication::sendEvent(target, &e);
    return QApplication::activePopupWidget();
}

class ParamFilesTest : public ::testing::Test {
protected:
    // A window on the station's port; the station greets when told.
    void Start(TWindowOptions o)
    {
        StopWaitingFlag = false;
        ConnectedFlag = false;
        o.PortNames = [port = QString::fromStdString(station->SlavePath())] { return QStringList{port}; };
        w = std::make_unique<TfmMain>(std::move(o));
        w->show();
        ASSERT_TRUE(WaitStarted(*w, 1));
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }

    TWindowOptions Options() const { return PortsOptions({}, 300); }

    void TearDown() override
    {
        if (w)
            w->close();
        w.reset();
    }

    static bool Connected()
    {
        return QTest::qWaitFor([] { return ConnectedFlag; }, 15000);
    }

    void Program()
    {
        const std::size_t before = station->ProgrammedBlocks().size();
        QTest::mouseClick(Ctl<QPushButton>(*w, "butProgr"), Qt::LeftButton);
        ASSERT_TRUE(station->WaitFor([&] { return station->ProgrammedBlocks().size() == before + 1; }, 5000ms));
    }

    QTemporaryDir tmp;
    std::unique_ptr<StationSimulator> station = std::make_unique<StationSimulator>();
    TModalBoxCloser boxes;
    std::unique_ptr<TfmMain> w;
};

TEST_F(ParamFilesTest, EachBlockIsKeptBeforeAnythingCanBeWrittenToIt)
{
    const QString folder = tmp.filePath(QStringLiteral("data/vostrel/copies"));
    // On the station's line: the sent copies there when packet 09 begins.
    std::atomic<bool> programming{false};
    std::atomic<int> sentAtPacket09{-1};
    StationConfig c;
    c.GreetOnWait = true;
    c.OnByte = [&](const LineByte& b) {
        if (b.FromStation || !programming.exchange(false))
            return;
        sentAtPacket09 = static_cast<int>(Files(folder, QStringLiteral("*_sent.txt")).size());
    };
    station = std::make_unique<StationSimulator>(c);
    const TByteArray held = DefaultStationBlock();

    TWindowOptions o = Options();
    o.CopiesDir = folder;
    // The moment the programming button can first be pressed: seen as it
    // happens, not by a timer that may look too late.
    std::optional<bool> readBeforeButton;
    TEventWatch enabled(QEvent::EnabledChange, [&](QObject* target) {
        auto* progr = qobject_cast<QPushButton*>(target);
        // The port list goes once a station's greeting is taken.
        if (readBeforeButton || progr == nullptr || progr->objectName() != QLatin1String("butProgr") ||
            !progr->isEnabled() || PortList(*progr->window())->isVisible())
            return;
        TParamFile read;
        const QStringList names = Files(folder);
        readBeforeButton = names.size() == 1 && Parse(QDir(folder).filePath(names[0]), read) && read.Raw == held;
    });
    Start(std::move(o));
    ASSERT_TRUE(Connected());
    EXPECT_EQ(readBeforeButton, std::optional<bool>(true));

    // The read copy: the station's bytes, their reading as the window shows
    // them, the port as the list names it.
    const QStringList reads = Files(folder, QStringLiteral("*_read.txt"));
    ASSERT_EQ(reads.size(), 1);
    TParamFile read;
    ASSERT_TRUE(Parse(QDir(folder).filePath(reads[0]), read));
    EXPECT_EQ(read.Kind, "read");
    EXPECT_EQ(read.Raw, held);
    EXPECT_EQ(read.Set, Editors(*w));
    EXPECT_EQ(read.Port, station->SlavePath());

    // An edit, then programming: the sent copy is packet 09's block exactly.
    ClickArrow(*w, "spbZPCH1Power_left");
    programming = true;
    Program();
    EXPECT_EQ(sentAtPacket09, 1);
    const QStringList sents = Files(folder, QStringLiteral("*_sent.txt"));
    ASSERT_EQ(sents.size(), 1);
    TParamFile sent;
    ASSERT_TRUE(Parse(QDir(folder).filePath(sents[0]), sent));
    EXPECT_EQ(sent.Kind, "sent");
    EXPECT_EQ(sent.Raw, station->ProgrammedBlocks()[0].Data);
    EXPECT_NE(sent.Raw, held);
    // Read and sent sort together, in the order they were made.
    EXPECT_EQ(Files(folder), (QStringList{reads[0], sents[0]}));
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

TEST_F(ParamFilesTest, ACopyThatCannotBeWrittenIsToldAndProgrammingStillWorks)
{
    // A file stands where the copies folder should be (root ignores
    // permissions, not this).
    const QString folder = tmp.filePath(QStringLiteral("copies"));
    Write(folder, "not a folder");
    const QString shown = QDir::toNativeSeparators(folder);
    station->SetGreetOnWait(true);
    TWindowOptions o = Options();
    o.CopiesDir = folder;
    Start(std::move(o));

    // Told before programming, with the path and the reason, and the copy
    // still offered another way.
    ASSERT_TRUE(Connected());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Texts.isEmpty(); }, 5000));
    EXPECT_TRUE(boxes.Texts[0].startsWith(QStringLiteral("Копия параметров не записана в «")))
        << boxes.Texts[0].toStdString();
    EXPECT_TRUE(boxes.Texts[0].contains(shown)) << boxes.Texts[0].toStdString();
    EXPECT_TRUE(boxes.Texts[0].contains(QStringLiteral("на месте папки стоит файл"))) << boxes.Texts[0].toStdString();
    EXPECT_TRUE(boxes.Infos[0].contains(QStringLiteral("Ctrl+S"))) << boxes.Infos[0].toStdString();
    EXPECT_TRUE(LogLines(*w).contains(boxes.Texts[0]));

    // Programming goes out as ever; the lost sent copy is told after it.
    const TParameterSet editors = Editors(*w);
    Program();
    TNullLog log;
    EXPECT_EQ(station->ProgrammedBlocks()[0].Data, ProgrammingBlock(editors, log));
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.Texts.size() == 2; }, 5000));
    EXPECT_TRUE(boxes.Texts[1].contains(shown)) << boxes.Texts[1].toStdString();
    EXPECT_TRUE(boxes.Infos[1].startsWith(QStringLiteral("Станция запрограммирована"))) << boxes.Infos[1].toStdString();

    // The window goes on: the next station is shown, its box told again.
    ASSERT_TRUE(Connected());
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.Texts.size() == 3; }, 5000));
    EXPECT_TRUE(QFileInfo(folder).isFile());

    // Nor can the folder be opened; said so, with its path.
    Ctl<QAction>(*w, "actOpenCopies")->trigger();
    ASSERT_EQ(boxes.Texts.size(), 4);
    EXPECT_EQ(boxes.Texts[3], QStringLiteral("Не удалось создать папку копий «%1».").arg(shown));
}

TEST_F(ParamFilesTest, ParameterFilesAreSavedAndLoadedThroughTheMenu)
{
    const QString folder = tmp.filePath(QStringLiteral("copies"));
    QStringList chosen;  // the files the operator picks, in turn
    QList<TFileChoice> asked;
    QList<QUrl> opened;
    TWindowOptions o = Options();
    o.CopiesDir = folder;
    o.ChooseParamFile = [&](QWidget*, TFileChoice what, const QString&) {
        asked << what;
        return chosen.isEmpty() ? QString() : chosen.takeFirst();
    };
    o.OpenUrl = [&](const QUrl& url) {
        opened << url;
        return true;
    };
    const QString guide = tmp.filePath(QStringLiteral("guide-ru.html"));
    QFile(guide).open(QIODevice::WriteOnly);
    o.GuidePlaces = [&] { return QStringList{guide}; };
    Start(std::move(o));
    auto* save = Ctl<QAction>(*w, "actSaveParams");
    auto* load = Ctl<QAction>(*w, "actLoadParams");
    auto* menu = Ctl<QMenu>(*w, "mnuParams");
    // Offscreen, a closed popup or box leaves no window active; a desktop
    // gives the window back its activation.
    const auto activate = [this] {
        w->activateWindow();
        return QTest::qWaitForWindowActive(w.get());
    };
    const auto press = [&](Qt::Key key) {
        EXPECT_TRUE(activate());
        QTest::keyClick(w.get(), key, Qt::ControlModifier);
    };
    const auto closePopup = [&](QWidget* popup) {
        if (popup != nullptr)
            popup->close();
        return activate();
    };

    // No station shown: the menu on a right click over the cover, with
    // nothing to save or load; the shortcuts do nothing.
    ASSERT_EQ(RightClick(Ctl<QWidget>(*w, "panZastavka")), menu);
    QStringList texts;
    for (const QAction* a : menu->actions()) {
        if (!a->isSeparator())
            texts << a->text();
    }
    EXPECT_EQ(texts, (QStringList{QStringLiteral("Сохранить параметры в файл…"),
                                  QStringLiteral("Загрузить параметры из файла…"),
                                  QStringLiteral("Открыть папку копий"), QStringLiteral("Руководство оператора")}));
    EXPECT_FALSE(save->isEnabled());
    EXPECT_FALSE(load->isEnabled());
    EXPECT_TRUE(Ctl<QAction>(*w, "actOpenCopies")->isEnabled());
    ASSERT_TRUE(closePopup(menu));
    press(Qt::Key_S);
    press(Qt::Key_O);
    EXPECT_TRUE(asked.isEmpty());

    // F1 opens the guide whatever the window shows.
    EXPECT_TRUE(activate());
    QTest::keyClick(w.get(), Qt::Key_F1);
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(guide)});
    opened.clear();

    // The copies folder is made and opened.
    Ctl<QAction>(*w, "actOpenCopies")->trigger();
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(folder)});

    station->SetGreetOnWait(true);
    emit PortList(*w)->activated(0);
    ASSERT_TRUE(Connected());
    EXPECT_TRUE(save->isEnabled());
    EXPECT_TRUE(load->isEnabled());
    // A numeric edit keeps its own menu.
    QWidget* own = RightClick(Ctl<TNumEdit>(*w, "edZPCH1_RxFreq"));
    EXPECT_NE(own, nullptr);
    EXPECT_NE(own, menu);
    ASSERT_TRUE(closePopup(own));

    // Ctrl+S writes what the editors show as the operator's own file.
    const QString mine = tmp.filePath(QStringLiteral("mine.txt"));
    chosen << mine;
    press(Qt::Key_S);
    ASSERT_EQ(asked, QList<TFileChoice>{TFileChoice::Save});
    TParamFile saved;
    ASSERT_TRUE(Parse(mine, saved));
    EXPECT_EQ(saved.Kind, "");
    EXPECT_FALSE(saved.Raw.has_value());
    EXPECT_EQ(saved.Set, Editors(*w));

    // A bad file: the box names its line and field; no editor changes.
    const TParameterSet before = Editors(*w);
    TParamFile edited;
    edited.Note = "Р-12, вышка 3";
    edited.Set = TParameterSet{.StepCode = 1,
                               .RxFreq = {146012.6L, 151000.0L},
                               .TxFreq = {146500.0L, 151000.0L},
                               .Simplex = {false, true},
                               .PowerCode = {2, 3},
                               .BaudCode = 3,
                               .FlowCode = 2,
                               .XoffAfter = 10,
                               .RxPause = 5.5L,
                               .AirSpeedCode = 1,
                               .KodCode = 0,
                               .KodPaketSize = 0};
    std::string text = FormatParamFile(edited);
    const std::string power = "ЗПЧ2 мощность: 5 Вт";
    ASSERT_NE(text.find(power), std::string::npos);
    const std::string bad = std::string(text).replace(text.find(power), power.size(), "ЗПЧ2 мощность: 7 Вт");
    const int badLine = static_cast<int>(std::count(bad.begin(), bad.begin() + bad.find("ЗПЧ2 мощность"), '\n')) + 1;
    const QString wrong = tmp.filePath(QStringLiteral("wrong.txt"));
    Write(wrong, bad);
    chosen << wrong;
    press(Qt::Key_O);
    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_EQ(boxes.Texts[0],
              QStringLiteral("Параметры не загружены из файла «%1».").arg(QDir::toNativeSeparators(wrong)));
    EXPECT_TRUE(boxes.Infos[0].startsWith(QStringLiteral("Строка %1, поле «ЗПЧ2 мощность»: ").arg(badLine)))
        << boxes.Infos[0].toStdString();
    EXPECT_EQ(Editors(*w), before);

    // A good one fills the editors under their own rules; programming sends
    // what the window would for those values, off the grid as they are.
    const QString good = tmp.filePath(QStringLiteral("good.txt"));
    Write(good, text);
    chosen << good;
    press(Qt::Key_O);
    EXPECT_EQ(Editors(*w), edited.Set);
    EXPECT_FALSE(Ctl<TNumEdit>(*w, "edZPCH2_TxFreq")->isEnabled());
    EXPECT_FALSE(Ctl<TNumEdit>(*w, "edXoffAfter")->isEnabled());
    EXPECT_FALSE(Ctl<TNumEdit>(*w, "edRxPause")->isEnabled());
    EXPECT_FALSE(Ctl<TSelector>(*w, "panKod")->LeftButton()->isEnabled());
    EXPECT_TRUE(station->ProgrammedBlocks().empty());
    Program();
    TNullLog log;
    EXPECT_EQ(station->ProgrammedBlocks()[0].Data, ProgrammingBlock(edited.Set, log));

    // Waiting again, nothing can be loaded; shown again, the station's copy
    // read first restores what it held.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Ctl<QPushButton>(*w, "butWaiting")->isVisible(); }, 5000));
    EXPECT_FALSE(load->isEnabled());
    asked.clear();
    press(Qt::Key_O);
    EXPECT_TRUE(asked.isEmpty());
    ASSERT_TRUE(Connected());
    const QStringList reads = Files(folder, QStringLiteral("*_read*.txt"));
    ASSERT_EQ(reads.size(), 2);
    chosen << QDir(folder).filePath(reads[0]);
    press(Qt::Key_O);
    Program();
    EXPECT_EQ(station->ProgrammedBlocks()[1].Data, DefaultStationBlock());
    EXPECT_EQ(boxes.Texts.size(), 1);
}

}  // namespace
