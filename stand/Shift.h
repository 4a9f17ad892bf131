// A bench shift: the parameter file programmed into station after station on
// every port, as vostrel-cli program --each does, on a worker thread of its
// own. The window's thread only starts it, stops it and receives its events.
#pragma once

#include "ParamFile.h"
#include "PortRows.h"
#include "PortRuns.h"
#include "Record.h"
#include "SessionContext.h"
#include "StopWake.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vostrel {

// Where a shift's sessions run; the program's defaults, a test's own.
struct TShiftSetup {
    std::string CopiesFolder;
    std::string LockDir = "/run/lock";
    TSessionTimings Timings;
};

class TShift : public QObject {
public:
    explicit TShift(TShiftSetup setup, QObject* parent = nullptr);
    // Stops a shift still running and waits for it: the stations connected
    // get their goodbye.
    ~TShift() override;
    TShift(const TShift&) = delete;
    TShift& operator=(const TShift&) = delete;

    // Opens the record at recordPath (its folder made), then runs plan with
    // file on the worker; false with why when the record cannot be opened:
    // nothing started.
    bool Start(const TRunPlan& plan, const TParamFile& file, const std::string& recordPath, std::string& why);
    // The operator's stop: waits end at once, exchanges begun are finished.
    void Stop();
    bool Running() const { return m_worker.joinable(); }
    bool Stopping() const { return m_stop.load(); }

    // On the window's thread, in the order the ports told them.
    std::function<void(std::size_t row, const TPortEvent&)> OnEvent;
    // Once every port ended: what each did, and whether the record holds the
    // summary. The worker is joined by then.
    std::function<void(const std::vector<TPortRun>&, bool kept)> OnFinished;
    // The record could not take a row; said once per shift.
    std::function<void(const std::string&)> OnRecordTrouble;

private:
    void Run();

    TShiftSetup m_setup;
    TSessionContext m_context;
    std::unique_ptr<TRecord> m_record;
    TRunPlan m_plan;
    TParamFile m_file;
    std::atomic<bool> m_stop{false};
    TStopWake m_wake;
    std::thread m_worker;
};

}  // namespace vostrel
