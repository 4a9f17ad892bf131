// The exchange with a station, step for step and byte for byte: the wait for
// its greeting, the confirmation, its answer, programming and the goodbye.
// The window and vostrel-cli drive these same steps, each through a host of
// its own: what a host shows between the steps is its business, what goes on
// the line and into the exchange log is decided here alone.
#pragma once

#include "LinkIo.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vostrel {

// From a port's opening, or a refused answer, to the start of the wait.
inline constexpr std::uint32_t kStartTimerMs = 555;
// The thank-you pause after programming, before the next wait.
inline constexpr std::uint32_t kThankYouMs = 5000;

// The exchange-log line of a greeting or an answer nothing can be made of.
inline constexpr const char* kBadPacketLine = "Полученный пакет - неправильный";

// Where an exchange stands, for the host to show.
enum class TExchangeStep {
    Waiting,      // a wait for the greeting has begun
    Arrived,      // a byte came: the greeting is being collected
    Greeted,      // the greeting holds: the confirmation is about to go out
    Confirmed,    // packet 08 is out: the station's answer is being collected
    Answered,     // the answer's window is over
    Programming,  // the pauses and the encoding ahead of packet 09
    Programmed,   // packet 09 is out
    Closing,      // the goodbye begins
};

class IExchangeHost : public ILinkHost {
public:
    // Ends the wait for the greeting; looked at after each pass of it.
    virtual bool StopWaiting() = 0;
    // The exchange gives up here and sends nothing more; looked at after
    // each step that let messages through, never inside a collection or a
    // send.
    virtual bool Abandoned() = 0;
    // The connected flag: the station waits for packet 09 or the closing
    // packet, which the goodbye then sends.
    virtual bool Connected() = 0;
    virtual void SetConnected(bool connected) = 0;
    virtual void Step(TExchangeStep step) { static_cast<void>(step); }
    // Around the wait for the greeting's first byte; Over also when the
    // wait ends by a failure.
    virtual void InputWaitBegins() {}
    virtual void InputWaitOver() {}
    // Around each packet sent; Ended also when the send failed.
    virtual void SendBegins() {}
    virtual void SendEnded() {}
    // The block of packet 09 just before its first byte goes out.
    virtual void KeepSent(const TByteArray& block) { static_cast<void>(block); }
};

class TStationExchange {
public:
    enum class TRead {
        Read,         // block holds the station's 34 bytes
        BadGreeting,  // not a greeting: nothing sent
        Missing,      // confirmed, but no usable answer arrived
        Damaged,      // the answer's check sum does not match its bytes
        Interrupted,  // stopped while waiting, or abandoned
    };

    TStationExchange(IBytePort& port, IExchangeHost& host) : m_port(port), m_host(host) {}

    // One wait: purge, look at the port after each pass of the host's
    // WaitForInput until a byte waits, collect the greeting, confirm it 50 ms
    // later, take the answer for 1000 ms and accept its block only when its
    // check sum holds. deviceName goes to the log. The connected flag is
    // cleared and left to the caller, who shows the block first.
    TRead WaitAndRead(const std::string& deviceName, TByteArray& block);
    // Packet 09 around what encode returns, after a 30 ms pause on each side
    // of the encoding; sent receives the block. False when abandoned before
    // the first byte: nothing went out.
    bool Program(const std::function<TByteArray()>& encode, TByteArray& sent);
    // 200 ms, the closing packet 00 while connected, 50 ms. The caller closes
    // the port afterwards.
    void Goodbye();

private:
    void Send(const TByteArray& packet, bool logBytes, bool doubleDle);

    IBytePort& m_port;
    IExchangeHost& m_host;
};

}  // namespace vostrel
