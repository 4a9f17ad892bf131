#include "PortRuns.h"

#include "Record.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <thread>

namespace vostrel {

std::vector<TPortRun> OnEachPort(const TRunPlan& plan, const TSessionContext& context,
                                 const std::function<void(TStationSession&, TPortRun&)>& work)
{
    const bool several = plan.Ports.size() > 1;
    std::vector<TPortRun> runs(plan.Ports.size());
    std::vector<std::unique_ptr<TStationSession>> sessions;
    for (std::size_t k = 0; k < plan.Ports.size(); ++k) {
        runs[k].Port = plan.Ports[k];
        sessions.push_back(
            std::make_unique<TStationSession>(context, plan.Ports[k], context.View(plan.Ports[k], several)));
        const bool opened = sessions[k]->Open();
        runs[k].Device = sessions[k]->DevicePath();
        if (!opened) {
            // Two names of one device: the second finds it held, by this very command.
            const auto twin = std::find_if(sessions.begin(), sessions.end() - 1, [&](const auto& open) {
                return open && SameDevice(open->DevicePath(), sessions[k]->DevicePath());
            });
            const std::string twinName = twin != sessions.end() - 1 ? (*twin)->PortName() : "";
            sessions[k]->View().Error(twinName.empty() ? sessions[k]->Failure()
                                                       : "Порт " + runs[k].Port + " — то же устройство, что и порт " +
                                                             twinName + ": станция на нём одна, работа идёт там.");
            runs[k].Code = ExitCode::PortFailed;
            runs[k].Trouble = twinName.empty() ? "порт не открылся" : "то же устройство, что " + twinName;
            sessions[k].reset();
        }
    }
    const auto run = [&](std::size_t k) {
        try {
            work(*sessions[k], runs[k]);
        } catch (...) {
            // work reports the port's own failures; anything else ends only this port.
            runs[k].Code = ExitCode::PortFailed;
            runs[k].Trouble = "внутренняя ошибка";
            sessions[k]->Finish();
        }
        runs[k].Refused = sessions[k]->Refused();
    };
    std::vector<std::thread> threads;
    try {
        threads.reserve(sessions.size());
    } catch (const std::exception&) {
        // Each emplace below may still find room, or fails its own port.
    }
    for (std::size_t k = 0; k < sessions.size(); ++k) {
        if (!sessions[k])
            continue;
        if (!several) {
            run(k);
            continue;
        }
        try {
            threads.emplace_back(run, k);
        } catch (const std::exception&) {
            // Run here, this port would keep the ports after it open and deaf
            // until it ended: it fails on its own, before any station came.
            sessions[k]->View().Error("Порт " + runs[k].Port + ": не удалось запустить его поток; порт закрыт.");
            runs[k].Code = ExitCode::PortFailed;
            runs[k].Trouble = "поток не запущен";
            sessions[k]->Finish();
        }
    }
    for (std::thread& t : threads)
        t.join();
    return runs;
}

int CombinedCode(const std::vector<TPortRun>& runs, bool each, const TSessionContext& context)
{
    const bool recordFailed = context.Record != nullptr && context.Record->Failed();
    int programmed = 0;
    for (const TPortRun& r : runs)
        programmed += r.Programmed;
    std::vector<int> codes;
    for (const TPortRun& r : runs) {
        int code =
            each && r.StoppedWaiting && r.Code == ExitCode::Interrupted && programmed > 0 ? ExitCode::Done : r.Code;
        // The stations were programmed, but not every copy or row kept.
        if (code == ExitCode::Done && (r.CopiesLost > 0 || recordFailed))
            code = ExitCode::NotWritten;
        codes.push_back(code);
    }
    for (const int worst : {ExitCode::PortFailed, ExitCode::NotVerified, ExitCode::NotWritten, ExitCode::Interrupted}) {
        if (std::find(codes.begin(), codes.end(), worst) != codes.end())
            return worst;
    }
    const auto other = std::find_if(codes.begin(), codes.end(), [](int c) { return c != ExitCode::Done; });
    return other != codes.end() ? *other : ExitCode::Done;
}

std::string SummaryOf(const TPortRun& r, const TRunPlan& plan)
{
    std::string text;
    if (plan.Read) {
        text += !r.File.empty()                   ? "прочитано в " + r.File
                : r.Code == ExitCode::Interrupted ? "не прочитано: прервано"
                                                  : "не прочитано";
    } else {
        const int failed = r.NotVerified + (r.Trouble.empty() ? 0 : 1);
        text += "запрограммировано " + std::to_string(r.Programmed);
        if (plan.Verify)
            text += ", проверено " + std::to_string(r.Verified);
        text += ", отклонено " + std::to_string(r.Refused) + ", сбоев " + std::to_string(failed);
    }
    if (r.CopiesLost > 0)
        text += ", копий не записано " + std::to_string(r.CopiesLost);
    if (!r.Trouble.empty())
        text += " (" + r.Trouble + ")";
    else if (!r.Met && r.Refused == 0)
        text += " (станций не было)";
    if (r.Outages > 0)
        text += ", порт пропадал " + std::to_string(r.Outages) + " раз";
    return text;
}

bool RecordSummary(const std::vector<TPortRun>& runs, const TRunPlan& plan, const TSessionContext& context)
{
    if (context.Record == nullptr)
        return false;
    bool all = true;
    for (const TPortRun& r : runs)
        all = context.Record->Append({r.Port, r.Device, 0, RecordEvent::Summary, SummaryOf(r, plan), {}, ""}) && all;
    return all;
}

}  // namespace vostrel
