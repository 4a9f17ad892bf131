#include "CliView.h"

#include "Console.h"
#include "Output.h"

#include <atomic>

namespace vostrel {

namespace {

// The terminal echoed ^C where the cursor stood: the first line about the
// interrupt begins below it.
std::atomic<bool> g_interruptTold{false};

}  // namespace

TCliView::TCliView(const TCliContext& context, const std::string& port, bool several, bool verbose)
    : m_progress(context.Err, context.Terminal, several ? "[" + port + "] " : ""), m_out(context.Out),
      m_err(context.Err), m_terminal(context.Terminal), m_verbose(verbose)
{}

void TCliView::Result(const std::string& line)
{
    PrintLine(m_out, line);
}

void TCliView::Error(const std::string& line)
{
    m_progress.Clear();
    PrintLine(m_err, line);
}

void TCliView::Stopped(const std::string& line)
{
    m_progress.Clear();
    const bool first = !g_interruptTold.exchange(true);
    PrintLine(m_err, (first && m_terminal ? "\n" : "") + line);
}

void TCliView::Log(const std::string& line)
{
    if (m_verbose)
        m_progress.Note(line);
}

bool TCliView::WaitLineOrStop(int descriptor, int timeoutMs)
{
    return WaitReadableOrInterrupt(descriptor, timeoutMs);
}

bool TCliView::WaitLine(int descriptor, int timeoutMs)
{
    return WaitReadable(descriptor, timeoutMs);
}

bool TCliView::Lost() const
{
    return OutputLost();
}

void TCliView::PacketBegins()
{
    vostrel::PacketBegins();
}

void TCliView::PacketEnded()
{
    vostrel::PacketEnded();
}

void UseCliViews(TCliContext& context, bool verbose)
{
    const TCliContext* given = &context;
    context.View = [given, verbose](const std::string& port, bool several) -> std::unique_ptr<ISessionView> {
        return std::make_unique<TCliView>(*given, port, several, verbose);
    };
}

}  // namespace vostrel
