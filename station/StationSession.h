// One port and the stations met on it: waiting, reading, the copies and
// programming, and the goodbye when the run ends.
#pragma once

#include "CommLink.h"
#include "Copies.h"
#include "ParamBlock.h"
#include "SessionContext.h"
#include "SleepingHost.h"
#include "StationExchange.h"
#include "StationPort.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vostrel {

class TStationSession {
public:
    // view: what the front-end shows of this port.
    TStationSession(const TSessionContext& context, const std::string& portName, std::unique_ptr<ISessionView> view);
    ~TStationSession() { m_view->Clear(); }
    TStationSession(const TStationSession&) = delete;
    TStationSession& operator=(const TStationSession&) = delete;

    // False leaves Failure() to be told.
    bool Open();
    // Waits until a station's parameters are read, going back to waiting
    // after anything unusable; false when stopped first.
    bool NextStation(TByteArray& block);
    // What the window's editors hold once they show block, kept as a copy of
    // the given kind ("read" or "sent"); a copy that cannot be written is
    // reported, with goingOn after the reason, and counted, and never stops
    // the run.
    TParameterSet ShowAndKeep(const std::string& kind, const TByteArray& block, const std::string& goingOn = "");
    // Programs the block encode returns, which sent receives; its copy is
    // kept before its first byte goes out, so a port that fails during the
    // packet still leaves what the station may now hold. Afterwards the
    // editors hold what was sent. False when a stop came first: nothing
    // sent, still connected.
    bool Program(const std::function<TByteArray()>& encode, TByteArray& sent, TParameterSet& programmed);
    void ThankYouPause();

    enum class TVerified { Same, Differs, Stopped };
    // After programming: the window's thank-you pause and the next wait on
    // this port, for the same station put into programming mode again; what
    // it holds is kept as a copy, compared with sent, and the station gets
    // its goodbye. The port stays open for the next station.
    TVerified Verify(const TByteArray& sent, std::vector<std::string>& differences);
    // The goodbye (packet 00 only while connected) and the port closed.
    void Finish();
    // A failure of the port in the middle of an exchange.
    int PortFailure(const std::exception& e);
    // The port's device went away in the middle of a series (e): the port is
    // closed without a goodbye, which has no line to go on, and said so.
    void PortGone(const std::exception& e);
    // Waits for the same device to come back and opens it again; false when
    // a stop came first.
    bool AwaitReturn();

    // Lost output ends a wait, never an exchange begun: the station then
    // gets its packet or its goodbye as ever.
    bool StopWaiting();
    std::string PortText() const;
    const std::string& PortName() const { return m_port.Name(); }
    // The device the name reached, also when it did not open.
    const std::string& DevicePath() const { return m_port.Path(); }
    const std::string& Failure() const { return m_port.Failure(); }
    TSleepingHost& Host() { return m_host; }
    ISessionView& View() { return *m_view; }
    const TSessionContext& Context() const { return m_context; }
    // Greetings and answers refused on this port; the station was asked again.
    int Refused() const { return m_refused; }
    // Copies that could not be written on this port.
    int CopiesLost() const { return m_copiesLost; }

    // The number on this port of the station the rows are about (refused
    // answers and a failure too); 1 until set.
    void SetStation(int number) { m_station = number; }
    // A row about this port's station in the record when --log keeps one,
    // naming the copies kept since the last row. Never throws; false when the
    // record could not take it.
    bool Record(const char* event, const std::string& details = "", const std::string& note = "");

private:
    // The port's failure in the system's words, naming the port.
    std::string FailureOf(const std::exception& e) const;
    // A copy of block kept, named in the next row; a copy that cannot be
    // written is told, with goingOn after the reason, and counted.
    TCopySaved Keep(const std::string& kind, const TByteArray& block, const TParameterSet& previous,
                    const std::string& goingOn);

    const TSessionContext& m_context;
    std::unique_ptr<ISessionView> m_view;
    TSleepingHost m_host;
    TStationPort m_port;
    TCommBytePort m_bytes;
    TStationExchange m_exchange;
    std::string m_portName;
    TParameterSet m_editors;  // the window's start-up values
    int m_refused = 0;
    int m_station = 1;
    std::vector<std::string> m_copies;  // file names, for the next row
    int m_copiesLost = 0;
};

}  // namespace vostrel
