#include "Series.h"

#include "BlockTexts.h"
#include "Record.h"

namespace vostrel {

namespace {

const char* const kProgramsWithoutCopy = " Станция программируется и без копии.";

}  // namespace

void RecordStop(TStationSession& session, const TPortRun& run, bool verify)
{
    const bool unverified = verify && run.Verified + run.NotVerified < run.Programmed;
    session.Record(RecordEvent::Stopped, run.StoppedWaiting ? "во время ожидания станции"
                                         : unverified       ? "до проверки"
                                                            : "до программирования");
}

bool VerifyStation(TStationSession& session, const TByteArray& sent, const std::string& what, TPortRun& run)
{
    std::vector<std::string> differences;
    const TStationSession::TVerified verified = session.Verify(sent, differences);
    std::string result;
    if (verified == TStationSession::TVerified::Stopped) {
        result = "не проверена: прервано";
    } else if (verified == TStationSession::TVerified::Same) {
        ++run.Verified;
        result = "проверено";
        session.Record(RecordEvent::Verified);
    } else {
        ++run.NotVerified;
        result = std::string("проверка не пройдена ") + kReadBackLabel + ": " + Joined(differences, "; ");
        session.Record(RecordEvent::NotVerified, Joined(differences, "; "));
    }
    session.View().Result(Now() + "  " + session.PortName() + "  " + what + ": " + result);
    return verified != TStationSession::TVerified::Stopped;
}

// One station of a series: waits for it, programs it and, asked to, reads
// it back; false when the series ends here.
namespace {

bool ProgramNext(TStationSession& session, TPortRun& run, const TParamFile& file, const TRunPlan& plan)
{
    session.SetStation(run.Programmed + 1);
    TByteArray block;
    if (!session.NextStation(block)) {
        run.StoppedWaiting = true;
        return false;
    }
    run.Met = true;
    const TParameterSet shown = session.ShowAndKeep("read", block, kProgramsWithoutCopy);
    if (session.Context().Stop())
        return false;
    TByteArray sent;
    TParameterSet programmed;
    if (!session.Program([&] { return ProgrammingBlock(file.Set, session.Host()); }, sent, programmed))
        return false;
    ++run.Programmed;
    const std::string station = "станция " + std::to_string(run.Programmed);
    const std::vector<std::string> changes = ChangedFields(shown, programmed);
    const std::string changed = changes.empty() ? "без изменений" : Joined(changes, "; ");
    session.View().Result(Now() + "  " + session.PortName() + "  " + station +
                          (changes.empty() ? ": " : " " + std::string(kChangedLabel) + ": ") + changed);
    session.Record(RecordEvent::Programmed, changed, file.Note);
    if (plan.Verify && !VerifyStation(session, sent, station, run))
        return false;
    if (!plan.Each) {
        run.Code = ExitCode::Done;
        return false;
    }
    if (!plan.Verify)
        session.ThankYouPause();
    return true;
}

}  // namespace

void ProgramOn(TStationSession& session, TPortRun& run, const TParamFile& file, const TRunPlan& plan)
{
    run.Code = ExitCode::Interrupted;
    try {
        for (bool more = true; more;) {
            try {
                more = ProgramNext(session, run, file, plan);
            } catch (const ECommError& e) {
                // A series outlives an adapter pulled out and plugged back;
                // any other failure ends the port with its goodbye, below.
                if (!plan.Each)
                    throw;
                ++run.Outages;
                session.PortGone(e);
                more = session.AwaitReturn();
                if (!more) {
                    // Stopped with the device still away: the port failed,
                    // unless the loss of what the view shows stopped it.
                    run.Code = session.Context().Stop() ? ExitCode::PortFailed : ExitCode::OutputLost;
                    run.Trouble = "порт не вернулся";
                }
            }
        }
        session.Finish();
    } catch (const std::exception& e) {
        run.Code = session.PortFailure(e);
        run.Trouble = "отказ порта";
        return;
    }
    if (run.Code == ExitCode::Interrupted)
        RecordStop(session, run, plan.Verify);
    if (run.NotVerified > 0 && run.Code != ExitCode::PortFailed)
        run.Code = ExitCode::NotVerified;
}

}  // namespace vostrel
