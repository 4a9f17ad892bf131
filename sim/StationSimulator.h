// A Vostrel station played on a Linux pseudo-terminal: the utility opens the
// slave path as its COM port and the simulator answers on the master side.
#pragma once

#include "LinkIo.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vostrel {

using SimClock = std::chrono::steady_clock;

// One byte on the real line: start bit, 8 data bits and stop bit at 4800
// bit/s, 2083.3 us, rounded up so that a paced station is never faster.
inline constexpr std::chrono::microseconds kLineByteTime{2084};

// Misbehaviours the station can show in one exchange (greeting and answer).
enum class StationFault {
    None,
    StrayByte,    // one byte (param, default 0xA5) ahead of the greeting's DLE
    NoEtx,        // the greeting without its final ETX
    WrongNumber,  // a well-framed greeting numbered 01 instead of 00
    CutShort,     // only the first param bytes (default 10) of packet 01
    Silence,      // no answer to packet 08
    CrcDle,       // the answered block is altered so that its CRC holds 0x10
    Noise,        // param random bytes (default 16) instead of the greeting
    HangUp,       // the master is closed instead of answering packet 08
    Corrupt,      // block byte param (default 1, a frequency byte) of packet 01 with bit 2
                  // flipped on the line; the CRC stays that of the true block
};

// Parses "none", "stray", "noetx", "wrongnum", "cut", "silence", "crcdle",
// "noise", "hangup", "corrupt"; false for anything else.
bool ParseStationFault(const std::string& name, StationFault& out);

// One byte on the line as the station saw it.
struct LineByte {
    SimClock::time_point Time;
    std::uint8_t Byte = 0;
    bool FromStation = false;  // false: written by the utility
};

// A framed packet the utility sent, DLE doubling already undone.
struct ReceivedPacket {
    std::uint8_t Number = 0;
    TByteArray Data;           // between the number and the CRC
    std::uint16_t Crc = 0;     // as carried, high byte first
    bool CrcOk = false;        // Crc16 over number and data matches
    TByteArray Line;           // the bytes as they came, DLE to ETX
    SimClock::time_point End;  // arrival of the ETX
};

struct StationConfig {
    TByteArray Block;                           // answered in packet 01; empty: default block
    std::chrono::milliseconds AnswerDelay{50};  // from the ETX of packet 08 to the start of packet 01
    std::chrono::milliseconds GreetDelay{100};  // from the utility's purge to the greeting
    // Byte time of the station's line; 0 sends each packet in one go. With a
    // byte time a packet waits until the line is free, and its byte k goes to
    // the utility no earlier than (k + 1) byte times after the packet starts,
    // when its stop bit would be in. kLineByteTime is the real line.
    std::chrono::microseconds ByteInterval{0};
    bool GreetOnWait = false;  // greet whenever the utility purges its input
    // As a station does, the block of a good packet 09 is answered from then
    // on; false keeps answering Block (or what SetBlock gave) whatever came.
    bool KeepsProgrammed = true;
    // A faulty memory: the kept block has this byte (0..33) with bit 2
    // flipped; -1 keeps it whole.
    int StoreFlip = -1;
    std::uint32_t NoiseSeed = 1;
    // Called on the simulator's thread for every byte, both directions.
    std::function<void(const LineByte&)> OnByte;
    // Called on the simulator's thread with a short English note per event.
    std::function<void(SimClock::time_point, const std::string&)> OnEvent;
};

// The realistic block a station fresh from the workshop carries: ZPCH1 simplex
// on 145575.0 kHz at 5 W, ZPCH2 150000.0/160000.0 kHz at 25 W, 12,5 kHz grid,
// 9600 bit/s, no flow control, Xoff after 100, pause 10 ms, 2400, RMK7, size 24.
TByteArray DefaultStationBlock();

// A station on the real line: 4800 bit/s, answering 30 ms after packet 08.
StationConfig PacedStation();

// Packet 01 for the block, as the station writes it: every 0x10 between the
// number and the trailing DLE doubled.
TByteArray StationAnswerLine(const TByteArray& block);

// Packet 01 as a line that damaged block byte `at` (0..33) carries it: the
// byte with bit 2 flipped, the CRC that of the true block, the doubling as
// the damaged byte needs it.
TByteArray CorruptedAnswerLine(const TByteArray& block, std::size_t at);

// Owns the pty master, a slave descriptor of its own (so the utility may close
// and reopen the slave freely) and one thread that reads the master, parses
// the utility's packets and writes the station's scheduled bytes. Every public
// member is thread-safe. Throws std::system_error when the pty cannot be made.
class StationSimulator {
public:
    explicit StationSimulator(StationConfig config = {});
    ~StationSimulator();
    StationSimulator(const StationSimulator&) = delete;
    StationSimulator& operator=(const StationSimulator&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }

    // Schedules the greeting (10 00 00 01 B0 10 03, or its faulty form).
    void SendGreeting();
    // Writes raw bytes now, outside any exchange.
    void SendRaw(const TByteArray& bytes);
    // Arms a fault for the next exchange; sticky keeps it for every exchange.
    void SetFault(StationFault fault, int param = -1, bool sticky = false);
    void SetBlock(const TByteArray& block);
    void SetAnswerDelay(std::chrono::milliseconds delay);
    void SetGreetOnWait(bool on);
    // Closes the master under the utility; the simulator is dead afterwards.
    // Returns once the master is closed. Not for use inside the callbacks.
    void HangUp();
    // Clears the exclusive-use flag a closed port may have left on the slave,
    // which otherwise refuses a non-root reopen while our own slave is open.
    void ReleaseExclusive();

    std::vector<LineByte> Trace() const;     // both directions, in order
    TByteArray ReceivedBytes() const;        // from the utility only
    std::vector<LineByte> Received() const;  // from the utility, with times
    std::vector<ReceivedPacket> Packets() const;
    std::vector<ReceivedPacket> ProgrammedBlocks() const;  // packets 09
    TByteArray LastAnsweredBlock() const;                  // block of the last packet 01 sent, as on the line
    int GreetingCount() const;
    int AnswerCount() const;
    int GoodbyeCount() const;
    int PurgeCount() const;  // input purges seen on the slave
    bool IsDead() const;

    // Waits until pred() holds, re-checking after each simulator event;
    // pred runs on the caller's thread and may use the accessors above.
    bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const;

private:
    struct Scheduled {
        SimClock::time_point Due;
        TByteArray Bytes;
        bool HangUp = false;
        bool Greeting = false;  // bytes are made when due, taking the fault then
        bool Answer = false;
        bool OnLine = false;  // paced: started, and Start fixed
        SimClock::time_point Start{};
        std::size_t Sent = 0;  // paced: bytes already handed over
    };

    void Run();
    void HandleInput(const std::uint8_t* data, std::size_t n, SimClock::time_point now);
    void HandleStatus(std::uint8_t status, SimClock::time_point now);
    void HandlePacket(const TByteArray& line, SimClock::time_point now);
    void ScheduleGreetingLocked(SimClock::time_point due);
    void ScheduleAnswerLocked(SimClock::time_point now);
    void RunDueLocked(SimClock::time_point now);
    void FlushOutputLocked();
    void CloseMasterLocked();
    void Wake() const;
    void Notify() const;
    void EventLocked(std::string text);
    bool TakeFaultLocked(bool greetingSide, StationFault& fault, int& param);
    TByteArray GreetingBytesLocked();

    StationConfig m_config;
    std::string m_slavePath;
    int m_master = -1;
    int m_slave = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    SimClock::time_point m_start;

    mutable std::mutex m_mutex;  // guards everything below
    std::vector<Scheduled> m_scheduled;
    SimClock::time_point m_lineFreeAt;  // paced: end of the last packet started
    TByteArray m_output;
    std::vector<LineByte> m_trace;
    std::vector<ReceivedPacket> m_packets;
    TByteArray m_parse;  // current packet's line bytes
    bool m_parseDle = false;
    TByteArray m_lastAnswered;
    StationFault m_fault = StationFault::None;
    int m_faultParam = -1;
    bool m_faultSticky = false;
    SimClock::time_point m_ignorePurgeUntil;
    std::uint32_t m_noiseState = 1;
    int m_greetings = 0;
    int m_answers = 0;
    int m_goodbyes = 0;
    int m_purges = 0;
    bool m_dead = false;
    bool m_stop = false;
    // Handed to the callbacks, in order, outside the lock.
    struct Note {
        LineByte Byte;
        std::string Text;  // empty for a byte
    };
    std::vector<Note> m_notes;

    mutable std::mutex m_eventMutex;
    mutable std::condition_variable m_eventCv;
    mutable std::uint64_t m_eventCount = 0;

    std::thread m_thread;
};

}  // namespace vostrel
