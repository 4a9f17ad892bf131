#include "StationDriver.h"

#include "Packets.h"

#include <algorithm>
#include <utility>

namespace vostrel {

namespace {

const char* const kBadPacket = "Полученный пакет - неправильный";

}  // namespace

TStationDriver::TStationDriver(IBytePort& port, ILinkHost& host, std::function<bool()> stop, TDriverTimings timings)
    : m_port(port), m_host(host), m_stop(std::move(stop)), m_timings(timings)
{}

void TStationDriver::Pause(std::uint32_t ms)
{
    while (ms > 0 && !m_stop()) {
        const std::uint32_t step = std::min<std::uint32_t>(ms, 20);
        m_host.Sleep(step);
        m_host.ProcessMessages();
        ms -= step;
    }
}

void TStationDriver::ArmDelay()
{
    Pause(m_timings.StartTimerMs);
}

void TStationDriver::ThankYouPause()
{
    Pause(m_timings.ThankYouMs);
}

TStationDriver::TRead TStationDriver::WaitAndRead(const std::string& devicePath, TByteArray& block)
{
    m_port.PurgeInput();
    m_connected = false;
    m_host.AppendLog("Начинаем ждать сообщение от станции на порту " + devicePath);
    Step(TStep::Waiting);
    for (;;) {
        m_host.WaitForInput();
        m_host.ProcessMessages();
        if (m_stop())
            return TRead::Interrupted;
        if (m_port.InputCount() >= 1)
            break;
    }

    Step(TStep::Greeted);
    m_host.AppendLog("Что-то пришло.");
    m_host.AppendLog("Читаем.");
    const TByteArray greeting = CollectUntilEtx(m_port, m_host);
    // A stop during the collection ends the wait as the window's close
    // does: the station is not confirmed.
    if (m_stop())
        return TRead::Interrupted;
    if (!IsGreeting(greeting)) {
        m_host.AppendLog(kBadPacket);
        return TRead::BadGreeting;
    }
    m_host.ProcessMessages();

    m_host.AppendLog("Посылаем пакет-подтверждение (пакет № 08)");
    const TByteArray confirm = BuildPacket(kPacketConfirm, TByteArray{0x00});
    m_host.Sleep(50);
    m_host.ProcessMessages();
    if (m_stop())
        return TRead::Interrupted;
    SendPacket(m_port, m_host, confirm, true, false);

    m_host.AppendLog("Ждём ответ от станции (пакет № 01)");
    m_port.PurgeInput();
    const TByteArray answer = CollectFor(m_port, m_host, 1000);
    TByteArray checked;
    switch (ExtractCheckedBlock(answer, checked)) {
    case TAnswerStatus::Ok:
        break;
    case TAnswerStatus::Damaged:
        m_host.AppendLog(kDamagedAnswerLine);
        return TRead::Damaged;
    case TAnswerStatus::Missing:
    default:
        m_host.AppendLog(kBadPacket);
        return TRead::Missing;
    }
    block = std::move(checked);
    // From here the station waits for packet 09 or the closing packet, also
    // when a stop came during the collection: the caller says goodbye.
    m_connected = true;
    return TRead::Read;
}

bool TStationDriver::Program(const TByteArray& block)
{
    Step(TStep::Programming);
    // The window's pauses around rounding and encoding, kept on the line; a
    // stop in either is the window's close at that moment.
    m_host.Sleep(30);
    m_host.ProcessMessages();
    if (m_stop())
        return false;
    const TByteArray packet = BuildPacket(kPacketProgram, block);
    m_host.Sleep(30);
    m_host.ProcessMessages();
    if (m_stop())
        return false;
    SendPacket(m_port, m_host, packet, false, true);
    m_connected = false;
    return true;
}

void TStationDriver::Goodbye()
{
    m_host.ProcessMessages();
    m_host.Sleep(200);
    m_host.ProcessMessages();
    if (m_connected) {
        const TByteArray closing = BuildPacket(kPacketClosing, TByteArray{0x00});
        m_host.Sleep(50);
        m_host.ProcessMessages();
        m_connected = false;
        SendPacket(m_port, m_host, closing, true, false);
    }
    m_host.Sleep(50);
    m_host.ProcessMessages();
}

}  // namespace vostrel
