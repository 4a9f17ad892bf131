// Building the window: every control with its place, font and colour, the
// two group areas with their bands and frames, and the two cover pages.
#include "Main.h"

#include "Colors.h"
#include "Look.h"
#include "NumEdit.h"
#include "Panels.h"
#include "PortList.h"
#include "Selector.h"

#include <QComboBox>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>

using namespace vostrel;

// Resources of a static library need an explicit initialisation, from the
// global namespace.
static void InitVostrelResources()
{
    Q_INIT_RESOURCE(vostrel);
}

namespace {

// Places inside the group areas that the layout leaves to us; every field
// line of a frame uses the same columns.
constexpr int kBandX = 37, kBandW = 270, kBandH = 25;
constexpr int kFrameX = 19, kFrameW = 306;
constexpr int kLinePitch = 30, kLineTop = 8, kLineH = 20;
constexpr int kCaptionX = 8, kCaptionW = 142;
constexpr int kControlX = 150, kControlW = 100;
constexpr int kUnitX = 256, kUnitW = 44;

// The same text colour whether the label's group is enabled or not.
void SetTextColor(QWidget* w, const QColor& c, QPalette::ColorRole role = QPalette::WindowText)
{
    QPalette pal = w->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, role, c);
    w->setPalette(pal);
}

QLabel* MakeLabel(QWidget* parent, const QString& text, const QFont& font, const QColor& color, const QRect& r,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    SetTextColor(l, color);
    l->setAlignment(align);
    l->setGeometry(r);
    return l;
}

// A label as wide as its text, with its top-left corner at (x, y).
QLabel* MakeLineLabel(QWidget* parent, const QString& text, const QFont& font, const QColor& color, int x, int y)
{
    auto* l = MakeLabel(parent, text, font, color, QRect(), Qt::AlignLeft | Qt::AlignTop);
    const QFontMetrics fm(font);
    l->setGeometry(x, y, fm.horizontalAdvance(text) + 2, fm.height());
    return l;
}

QRect LineRect(int line, int x, int w)
{
    return QRect(x, kLineTop + line * kLinePitch, w, kLineH);
}

}  // namespace

void TfmMain::BuildWindow()
{
    InitVostrelResources();
    setObjectName(QStringLiteral("fmMain"));
    setWindowTitle(QStringLiteral("Vostrel"));
    setWindowIcon(QIcon(QStringLiteral(":/images/vostrel.xpm")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(736, 456);
    ApplyWindowLook(*this);

    // Created from the bottom of the stacking order to the top.
    RzBackground1 = new TGradient(Qt::white, BgrColor(15653851), this);
    RzBackground1->setObjectName(QStringLiteral("RzBackground1"));
    RzBackground1->setGeometry(0, 134, 736, 322);

    butProgr = new TPictureButton(QIcon(QStringLiteral(":/images/program.xpm")), kProgrCaption, 6, 3, this);
    butProgr->setObjectName(QStringLiteral("butProgr"));
    butProgr->setGeometry(259, 411, 217, 33);
    butProgr->setIconSize(QSize(16, 16));
    butProgr->setFont(Arial(15, true));
    SetTextColor(butProgr, Qt::black, QPalette::ButtonText);

    sGroupBox1 = new TGroupArea(BgrColor(clGroupFillBgr), BgrColor(12098687), this);
    sGroupBox1->setObjectName(QStringLiteral("sGroupBox1"));
    sGroupBox1->setGeometry(16, 19, 344, 378);
    sGroupBox2 = new TGroupArea(BgrColor(clGroupFillBgr), BgrColor(12098687), this);
    sGroupBox2->setObjectName(QStringLiteral("sGroupBox2"));
    sGroupBox2->setGeometry(374, 19, 344, 378);
    BuildRadioGroup();
    BuildModemGroup();

    Panel15 = new TTitleTab(BgrColor(clGroupFillBgr), this);
    Panel15->setObjectName(QStringLiteral("Panel15"));
    Panel15->setGeometry(84, 8, 208, 22);
    Label18 = MakeLabel(Panel15, QStringLiteral("Параметры радиоканала"), Arial(15, true), Qt::black,
                        QRect(0, 0, 208, 22), Qt::AlignCenter);
    Label18->setObjectName(QStringLiteral("Label18"));
    Panel18 = new TTitleTab(BgrColor(clGroupFillBgr), this);
    Panel18->setObjectName(QStringLiteral("Panel18"));
    Panel18->setGeometry(459, 8, 172, 22);
    Label20 = MakeLabel(Panel18, QStringLiteral("Параметры модема"), Arial(15, true), Qt::black, QRect(0, 0, 172, 22),
                        Qt::AlignCenter);
    Label20->setObjectName(QStringLiteral("Label20"));

    cbPort = new TPortList(this);
    cbPort->setObjectName(QStringLiteral("cbPort"));
    cbPort->OnPopup = [this] {
        RefreshPortEntries();
        RefreshPortTips();
    };
    cbPort->setFont(Arial(15));
    for (int i = 1; i <= 8; ++i)
        cbPort->addItem(QStringLiteral("COM%1").arg(i));
    cbPort->setGeometry(17, 416, 70, cbPort->sizeHint().height());

    Memo1 = new TExchangeLog(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));

    panZastavka = new TBevelPanel(bvRaised, bvLowered, BgrColor(clGroupFillBgr), this);
    panZastavka->setObjectName(QStringLiteral("panZastavka"));
    panZastavka->setGeometry(700, 12, 702, 390);
    panZastavka->hide();
    BuildCoverPages();

    butWaiting = new QPushButton(QStringLiteral("Ожидание сообщения от станции ..."), this);
    butWaiting->setObjectName(QStringLiteral("butWaiting"));
    butWaiting->setGeometry(132, 456, 473, 33);
    butWaiting->setFont(Arial(15, true));
    SetTextColor(butWaiting, Qt::black, QPalette::ButtonText);
    butWaiting->setEnabled(false);
}

namespace {

struct TFieldSpec {
    QString caption;
    QWidget* control;
    QString unit;
};

TBevelPanel* MakeBand(QWidget* group, const QString& caption, int y)
{
    auto* band = new TBevelPanel(bvLowered, bvRaised, Qt::white, group);
    band->setGeometry(kBandX, y, kBandW, kBandH);
    MakeLabel(band, caption, Arial(13, true, true), BgrColor(9586503), QRect(8, 0, kBandW - 16, kBandH));
    return band;
}

// A frame of field lines: caption left, value control right, unit after it.
TBevelPanel* MakeFrame(QWidget* group, int y, int height, const QList<TFieldSpec>& fields)
{
    auto* frame = new TBevelPanel(bvLowered, bvRaised, Qt::white, group);
    frame->setGeometry(kFrameX, y, kFrameW, height);
    const QColor fieldColor = BgrColor(14258944);
    for (int i = 0; i < fields.size(); ++i) {
        const TFieldSpec& f = fields[i];
        MakeLabel(frame, f.caption, Arial(12, true), fieldColor, LineRect(i, kCaptionX, kCaptionW));
        f.control->setParent(frame);
        f.control->setGeometry(LineRect(i, kControlX, kControlW));
        if (!f.unit.isEmpty())
            MakeLabel(frame, f.unit, Arial(12, true), fieldColor, LineRect(i, kUnitX, kUnitW));
    }
    return frame;
}

TSelector* MakeSelector(const QString& name, const QMap<int, QString>& captions, int tag, bool blank = false)
{
    auto* s = new TSelector(name, captions, nullptr, blank);
    s->setFont(Arial(12, true));
    s->SetBorderColor(BgrColor(12098687));
    s->SetCaptionColor(BgrColor(clValueBgr));
    if (!blank)
        s->SetTag(tag);
    return s;
}

TSelector* MakeDuplexToggle(const QString& name, TBevelPanel* band)
{
    auto* s = new TSelector(name, {{0, QStringLiteral("разнесённый приём")}, {1, QStringLiteral("симплекс")}}, band);
    s->setFont(Arial(11, true));
    s->SetBorderColor(BgrColor(14207160));
    s->SetCaptionColor(BgrColor(clDuplexBgr));
    s->setGeometry(kBandW - 150 - 4, (kBandH - 17) / 2, 150, 17);
    return s;
}

TNumEdit* MakeEdit(const QString& name, const QString& format, long double value)
{
    auto* e = new TNumEdit(format);
    e->setObjectName(name);
    e->setFont(Arial(12, true));
    e->SetTextColor(BgrColor(clValueBgr));
    e->SetValue(value);
    return e;
}

// One channel, named by ID ("ZPCH1"): its duplex toggle on a band, and its
// receive, transmit and power lines in a frame below.
struct TChannel {
    TSelector* duplex;
    TNumEdit* rx;
    TNumEdit* tx;
    TSelector* power;
};

TChannel MakeChannel(QWidget* group, const QString& id, const QString& caption, int bandY, int frameY)
{
    const QString kHz = QStringLiteral("кГц");
    const QMap<int, QString> powers{{1, QStringLiteral("25")}, {2, QStringLiteral("10")}, {3, QStringLiteral("5")}};
    auto* band = MakeBand(group, caption, bandY);
    const TChannel c{MakeDuplexToggle(QStringLiteral("pan") + id, band),
                     MakeEdit(QStringLiteral("ed%1_RxFreq").arg(id), QStringLiteral("### ##0.0"), 145575),
                     MakeEdit(QStringLiteral("ed%1_TxFreq").arg(id), QStringLiteral("### ##0.0"), 145575),
                     MakeSelector(QStringLiteral("pan%1Power").arg(id), powers, 3)};
    MakeFrame(group, frameY, 96,
              {{QStringLiteral("Частота  приёма"), c.rx, kHz},
               {QStringLiteral("Частота  передачи"), c.tx, kHz},
               {QStringLiteral("Выходная  мощность"), c.power, QStringLiteral("Вт")}});
    return c;
}

}  // namespace

void TfmMain::BuildRadioGroup()
{
    panStep = MakeSelector(QStringLiteral("panStep"), {{0, QStringLiteral("25,0")}, {1, QStringLiteral("12,5")}}, 0);
    MakeFrame(sGroupBox1, 32, 36, {{QStringLiteral("Шаг сетки частот"), panStep, QStringLiteral("кГц")}});

    const TChannel modem = MakeChannel(sGroupBox1, QStringLiteral("ZPCH1"), QStringLiteral("ЗПЧ1 (модем)"), 88, 117);
    panZPCH1 = modem.duplex;
    edZPCH1_RxFreq = modem.rx;
    edZPCH1_TxFreq = modem.tx;
    panZPCH1Power = modem.power;

    const TChannel speech = MakeChannel(sGroupBox1, QStringLiteral("ZPCH2"), QStringLiteral("ЗПЧ2  (речь)"), 233, 262);
    panZPCH2 = speech.duplex;
    edZPCH2_RxFreq = speech.rx;
    edZPCH2_TxFreq = speech.tx;
    panZPCH2Power = speech.power;
}

void TfmMain::BuildModemGroup()
{
    const QString bits = QStringLiteral("бит/с");
    const QString bytes = QStringLiteral("байт");

    MakeBand(sGroupBox2, QStringLiteral("Обмен между DTE и DCE"), 32);
    panBaudRate = MakeSelector(QStringLiteral("panBaudRate"),
                               {{0, QStringLiteral("9600")},
                                {1, QStringLiteral("19200")},
                                {2, QStringLiteral("38400")},
                                {3, QStringLiteral("57600")}},
                               0);
    panFlowControl =
        MakeSelector(QStringLiteral("panFlowControl"),
                     {{0, QStringLiteral("none")}, {1, QStringLiteral("Xon/Xoff")}, {2, QStringLiteral("RTS/CTS")}}, 0);
    edXoffAfter = MakeEdit(QStringLiteral("edXoffAfter"), QStringLiteral("#0"), 55);
    edRxPause = MakeEdit(QStringLiteral("edRxPause"), QStringLiteral("##0.00"), 432.5L);
    auto* frame = MakeFrame(sGroupBox2, 61, 142,
                            {{QStringLiteral("Скорость COM-порта"), panBaudRate, bits},
                             {QStringLiteral("Управление потоком"), panFlowControl, QString()},
                             {QStringLiteral("Отдавать Xoff после"), edXoffAfter, bytes},
                             {QStringLiteral("Пауза для RxD –> ПРД"), edRxPause, QStringLiteral("мс")}});
    // Centred under the pause edit and its unit.
    laKolvoBytes = MakeLabel(
        frame, QString(), MakeFont(QStringLiteral("Courier New"), 11, false, true), BgrColor(11109987),
        QRect(kControlX, kLineTop + 3 * kLinePitch + kLineH + 2, kUnitX + kUnitW - kControlX, 14), Qt::AlignCenter);
    laKolvoBytes->setObjectName(QStringLiteral("laKolvoBytes"));
    laKolvoBytes->hide();

    MakeBand(sGroupBox2, QStringLiteral("Помехоустойчивое кодирование"), 233);
    panEfirSkor =
        MakeSelector(QStringLiteral("panEfirSkor"),
                     {{0, QStringLiteral("2400")}, {1, QStringLiteral("1200")}, {2, QStringLiteral("4800")}}, 0);
    // The code's caption is first set when a station's parameters are shown.
    panKod =
        MakeSelector(QStringLiteral("panKod"), {{0, QStringLiteral("РМК31")}, {1, QStringLiteral("РМК7")}}, 0, true);
    edKodPaketSize = MakeEdit(QStringLiteral("edKodPaketSize"), QStringLiteral("#0"), 55);
    MakeFrame(sGroupBox2, 262, 96,
              {{QStringLiteral("Скорость в эфире"), panEfirSkor, bits},
               {QStringLiteral("Помехостойкий код"), panKod, QString()},
               {QStringLiteral("Размер кодир. пакета"), edKodPaketSize, bytes}});
}

void TfmMain::BuildCoverPages()
{
    const int inset = panZastavka->BorderWidth();
    Screens = new QStackedWidget(panZastavka);
    Screens->setObjectName(QStringLiteral("Screens"));
    Screens->setGeometry(inset, inset, panZastavka->width() - 2 * inset, panZastavka->height() - 2 * inset);

    auto makePage = [this](const QString& name) {
        auto* page = new QWidget;
        page->setObjectName(name);
        QPalette pal = page->palette();
        pal.setColor(QPalette::Window, BgrColor(clGroupFillBgr));
        page->setPalette(pal);
        page->setAutoFillBackground(true);
        Screens->addWidget(page);
        return page;
    };
    pageDefault = makePage(QStringLiteral("Default"));
    pageReklama = makePage(QStringLiteral("Reklama"));

    const QColor steps = BgrColor(5789784);
    MakeLineLabel(pageDefault, QStringLiteral("Для программирования потребительских параметров необходимо"), Arial(19),
                  Qt::black, 61, 30);
    MakeLineLabel(pageDefault, QStringLiteral("выполнить следующие шаги:"), Arial(19), Qt::black, 61, 56);
    struct TLine {
        const char* text;
        bool continuation;
        int y;
    };
    const TLine lines[] = {
        {"–  подключите обесточенное изделие к свободному ", false, 104},
        {"COM-порту компьютера", true, 128},
        {"–  выберите из списка ниже этот COM-порт ", false, 162},
        {"–  включите изделие", false, 196},
        {"–  нажатием кнопок \"Ф\" и \"СК\" переведите изделие ", false, 230},
        {"в режим программирования", true, 254},
        {"–  отредактируйте необходимые параметры ", false, 288},
        {"и запрограммируйте изделие", true, 312},
    };
    for (const TLine& l : lines)
        MakeLineLabel(pageDefault, QString::fromUtf8(l.text), Arial(17, true), steps, l.continuation ? 150 : 130, l.y);

    const int pageW = Screens->width();
    auto centred = [pageW](QLabel* l, int y) {
        l->adjustSize();
        l->move((pageW - l->width()) / 2, y);
    };
    centred(MakeLineLabel(pageReklama, QStringLiteral("Благодарим Вас за использование нашего изделия !"), Arial(21),
                          BgrColor(17920), 0, 0),
            100);
    centred(MakeLineLabel(pageReklama, QStringLiteral("С вопросами и за тех.поддержкой обращайтесь:"), Arial(17, true),
                          steps, 0, 0),
            170);
    auto makeLink = [&](const char* name, const QString& caption, const QString& url, int y) {
        auto* l = new TLinkLabel(caption, QUrl(url), BgrColor(16737894), pageReklama);
        l->setObjectName(QString::fromLatin1(name));
        l->setFont(Arial(16, true, false, true));
        centred(l, y);
        return l;
    };
    sWebLabel1 = makeLink("sWebLabel1", QStringLiteral("support@example.com"),
                          QStringLiteral("mailto:support@example.com"), 214);
    sWebLabel2 =
        makeLink("sWebLabel2", QStringLiteral("www.example.com"), QStringLiteral("https://www.example.com/"), 246);
}
