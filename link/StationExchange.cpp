#include "StationExchange.h"

#include "Packets.h"

#include <utility>

namespace vostrel {

namespace {

// The host learns of both ends of a span, also when a failure ends it.
template <void (IExchangeHost::*Begin)(), void (IExchangeHost::*End)()>
class TSpan {
public:
    explicit TSpan(IExchangeHost& host) : m_host(host) { (m_host.*Begin)(); }
    ~TSpan() { (m_host.*End)(); }
    TSpan(const TSpan&) = delete;
    TSpan& operator=(const TSpan&) = delete;

private:
    IExchangeHost& m_host;
};

using TInputWait = TSpan<&IExchangeHost::InputWaitBegins, &IExchangeHost::InputWaitOver>;
using TSending = TSpan<&IExchangeHost::SendBegins, &IExchangeHost::SendEnded>;

}  // namespace

void TStationExchange::Send(const TByteArray& packet, bool logBytes, bool doubleDle)
{
    const TSending sending(m_host);
    SendPacket(m_port, m_host, packet, logBytes, doubleDle);
}

TStationExchange::TRead TStationExchange::WaitAndRead(const std::string& deviceName, TByteArray& block)
{
    block.clear();
    m_port.PurgeInput();
    m_host.SetConnected(false);
    m_host.AppendLog("Начинаем ждать сообщение от станции на порту " + deviceName);
    m_host.Step(TExchangeStep::Waiting);
    {
        const TInputWait waiting(m_host);
        for (;;) {
            m_host.WaitForInput();
            if (m_host.StopWaiting())
                return TRead::Interrupted;
            if (m_port.InputCount() >= 1)
                break;
        }
    }

    m_host.Step(TExchangeStep::Arrived);
    m_host.AppendLog("Что-то пришло.");
    m_host.AppendLog("Читаем.");
    const TByteArray greeting = CollectUntilEtx(m_port, m_host);
    if (m_host.Abandoned())
        return TRead::Interrupted;
    if (!IsGreeting(greeting)) {
        m_host.AppendLog(kBadPacketLine);
        return TRead::BadGreeting;
    }
    m_host.ProcessMessages();
    if (m_host.Abandoned())
        return TRead::Interrupted;
    m_host.Step(TExchangeStep::Greeted);

    m_host.AppendLog("Посылаем пакет-подтверждение (пакет № 08)");
    const TByteArray confirm = BuildPacket(kPacketConfirm, TByteArray{0x00});
    m_host.Sleep(50);
    m_host.ProcessMessages();
    if (m_host.Abandoned())
        return TRead::Interrupted;
    Send(confirm, true, false);
    m_host.Step(TExchangeStep::Confirmed);

    m_host.AppendLog("Ждём ответ от станции (пакет № 01)");
    m_port.PurgeInput();
    const TByteArray answer = CollectFor(m_port, m_host, 1000);
    if (m_host.Abandoned())
        return TRead::Interrupted;
    m_host.Step(TExchangeStep::Answered);
    TByteArray checked;
    switch (ExtractCheckedBlock(answer, checked)) {
    case TAnswerStatus::Ok:
        block = std::move(checked);
        return TRead::Read;
    case TAnswerStatus::Damaged:
        // Shown, a garbled byte would go back into the station at the next
        // programming although nobody changed it.
        m_host.AppendLog(kDamagedAnswerLine);
        return TRead::Damaged;
    case TAnswerStatus::Missing:
        break;
    }
    m_host.AppendLog(kBadPacketLine);
    return TRead::Missing;
}

bool TStationExchange::Program(const std::function<TByteArray()>& encode, TByteArray& sent)
{
    m_host.Step(TExchangeStep::Programming);
    m_host.Sleep(30);
    m_host.ProcessMessages();
    if (m_host.Abandoned())
        return false;
    sent = encode();
    const TByteArray packet = BuildPacket(kPacketProgram, sent);
    m_host.Sleep(30);
    m_host.ProcessMessages();
    if (m_host.Abandoned())
        return false;
    m_host.KeepSent(sent);
    Send(packet, false, true);
    m_host.SetConnected(false);
    m_host.Step(TExchangeStep::Programmed);
    return true;
}

void TStationExchange::Goodbye()
{
    m_host.ProcessMessages();
    m_host.Step(TExchangeStep::Closing);
    m_host.Sleep(200);
    m_host.ProcessMessages();
    if (m_host.Connected()) {
        const TByteArray closing = BuildPacket(kPacketClosing, TByteArray{0x00});
        m_host.Sleep(50);
        m_host.ProcessMessages();
        m_host.SetConnected(false);
        Send(closing, true, false);
    }
    m_host.Sleep(50);
    m_host.ProcessMessages();
}

}  // namespace vostrel
