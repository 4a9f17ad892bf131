// The choice of a port: what each entry of the list reaches, opening it, and
// telling the operator why a port did not open.
#include "Main.h"
#include "OpeningOrder.h"
#include "PortFinder.h"
#include "PortList.h"
#include "PortLock.h"
#include "PortOpening.h"

#include <QMessageBox>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <utility>

using namespace vostrel;

namespace {

QString TrimmedControl(const QString& s)
{
    // Blanks and control characters go at both ends.
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= 0x20)
        ++b;
    while (e > b && s[e - 1].unicode() <= 0x20)
        --e;
    return s.mid(b, e - b);
}

}  // namespace

template <class R>
void TfmMain::AwaitAside(const R& result)
{
    while (result.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready)
        ProcessMessages();
}

// Listing the ports and looking for a port's holders take milliseconds to
// much more (a process with thousands of descriptors), so they run aside
// while the window goes on handling its messages.
template <class F>
auto TfmMain::RunAside(F&& job)
{
    auto result = std::async(std::launch::async, std::forward<F>(job));
    AwaitAside(result);
    return result.get();
}

// ComPort is one object and not for two threads at once: while an open runs
// aside, the window's thread waits for it before it touches the port, so
// whatever the open produced is closed by whoever comes next.
void TfmMain::AwaitPendingOpen()
{
    if (m_pendingOpen.valid())
        AwaitAside(m_pendingOpen);
}

std::vector<TPortChoice> TfmMain::ResolvePorts(std::vector<TPresentPort>* present)
{
    std::vector<TPresentPort> ports = RunAside([] { return ListPresentPorts(); });
    // On the window's thread: the bindings are one session's, shared by
    // every pick and refresh, however they nest.
    std::vector<TPortChoice> choices = FindPortChoices(ports, &m_bindings);
    if (present != nullptr)
        *present = std::move(ports);
    return choices;
}

// Where the list names present ports beyond COM1 to COM6 (on Windows), a port
// plugged in after the start is offered the next time the list opens. The
// entry shown stays, even when its port went away: it is the port in use.
void TfmMain::RefreshPortEntries()
{
    QStringList entries = m_options.PortNames();
    if (entries.isEmpty())
        return;
    const QString current = cbPort->currentText();
    if (!current.isEmpty() && !entries.contains(current))
        entries << current;
    QStringList shown;
    for (int i = 0; i < cbPort->count(); ++i)
        shown << cbPort->itemText(i);
    if (shown == entries)
        return;
    // Only the operator's choice picks a port; this is no choice.
    const QSignalBlocker quiet(cbPort);
    cbPort->clear();
    cbPort->addItems(entries);
    cbPort->setCurrentIndex(static_cast<int>(entries.indexOf(current)));
}

void TfmMain::RefreshPortTips()
{
    ShowPortTips(ResolvePorts(nullptr));
}

const TPortChoice* TfmMain::ChoiceFor(const std::vector<TPortChoice>& choices, const QString& entry)
{
    const std::string name = entry.toStdString();
    const auto it = std::find_if(choices.begin(), choices.end(), [&](const TPortChoice& c) { return c.Name == name; });
    return it != choices.end() ? &*it : nullptr;
}

void TfmMain::ShowPortTips(const std::vector<TPortChoice>& choices)
{
    for (int i = 0; i < cbPort->count(); ++i) {
        if (const TPortChoice* choice = ChoiceFor(choices, cbPort->itemText(i)))
            cbPort->setItemData(i, PortToolTip(*choice), Qt::ToolTipRole);
    }
}

void TfmMain::ClosePort()
{
    AwaitPendingOpen();
    // Also when the close fails: the device is no longer ours either way.
    struct TRelease {
        TPortLock& Lock;
        ~TRelease() { Lock.Release(); }
    } release{m_portLock};
    ComPort.ClosePort();
}

// The window's steps of an open: what takes time runs aside while the window
// goes on handling its messages, and each step looks whether a newer pick or
// the closing took over.
class TfmMain::TWindowSteps : public IOpeningSteps {
public:
    TWindowSteps(TfmMain& window, std::function<bool()> superseded, std::function<void(std::uint32_t)> pause)
        : w(window), m_superseded(std::move(superseded)), m_pause(std::move(pause))
    {}

    bool Superseded() override { return m_superseded(); }
    void Resolve(TPortOpening& opening) override
    {
        if (w.m_options.DevicePath) {
            opening.SetPath(w.m_options.DevicePath(opening.Name()));
        } else {
            std::vector<TPresentPort> present;
            const std::vector<TPortChoice> choices = w.ResolvePorts(&present);
            if (m_superseded())
                return;
            w.ShowPortTips(choices);
            // An entry the system does not name is opened as it stands.
            opening.Choose(choices, present);
        }
        if (!opening.Refused())
            w.ComPort.SetDeviceName(opening.Path());
    }
    std::vector<std::string> Holders(const std::string& path) override
    {
        return w.RunAside([lookup = w.m_options.PortHolders, path] { return lookup(path); });
    }
    // The system's open can take seconds (an outgoing Bluetooth port): the
    // window goes on painting and taking picks meanwhile.
    void Open(const std::string& path) override
    {
        static_cast<void>(path);  // ComPort holds it since Resolve
        w.m_pendingOpen = std::async(std::launch::async, [open = w.m_options.OpenPort, &window = w] {
                              open(window.ComPort);
                          }).share();
        const std::shared_future<void> opened = w.m_pendingOpen;
        w.AwaitAside(opened);
        if (!m_superseded())
            opened.get();
    }
    void Pause(std::uint32_t ms) override { m_pause(ms); }

private:
    TfmMain& w;
    std::function<bool()> m_superseded;
    std::function<void(std::uint32_t)> m_pause;
};

// A pick is one step: it lets the window handle its messages at every pause,
// so another pick, the closing of the window or the list's refresh can run
// inside it. A newer pick supersedes this one, which then touches nothing:
// the newer pick (or the closing) waits for this one's open to end and
// closes what it opened.
void TfmMain::cbPortChange()
{
    if (TrimmedControl(cbPort->currentText()).size() <= 2)
        return;
    // The tick of an earlier pick must not start a wait on the port this one
    // is about to close.
    StartTimer->stop();
    const unsigned pick = ++m_pickGeneration;
    const auto superseded = [this, pick] { return m_closing || pick != m_pickGeneration; };
    const auto pause = [this](std::uint32_t ms) {
        Sleep(ms);
        ProcessMessages();
    };

    // Each pick words its own failure, so a pick that runs inside another
    // cannot change what the other reports.
    TPortOpening opening{QString()};
    try {
        StopWaitingFlag = true;
        ++m_portGeneration;
        pause(30);
        if (superseded())
            return;
        // An older pick's open may still run aside; a pick made meanwhile
        // takes over from here.
        AwaitPendingOpen();
        if (superseded())
            return;
        ClosePort();
        pause(30);
        if (superseded())
            return;

        // The entry as it stands now, which is what the list shows.
        opening = TPortOpening(TrimmedControl(cbPort->currentText()));
        TWindowSteps steps(*this, superseded, pause);
        const TOpening opened = OpenInOrder(opening, steps, m_portLock, m_options.LockDir);
        if (opened == TOpening::Superseded)
            return;
    } catch (...) {
        // Any other failure counts as a port that did not open.
    }
    if (superseded())
        return;
    if (ComPort.IsOpen()) {
        StartTimer->start();
    } else {
        m_portLock.Release();
        ShowPortFailure(opening);
    }
}

void TfmMain::ShowPortFailure(const TPortOpening& opening)
{
    QMessageBox box(this);
    box.setObjectName(QStringLiteral("PortFailureBox"));
    box.setWindowTitle(QStringLiteral("Vostrel"));
    box.setText(opening.FailureTitle());
    box.setStandardButtons(QMessageBox::Ok);
    const QString info = opening.FailureDetails();
    if (!info.isEmpty())
        box.setInformativeText(info);
    box.exec();
}
