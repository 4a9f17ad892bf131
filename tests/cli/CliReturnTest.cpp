// A series whose port went away comes back only on the same device: a pty
// named by its kernel path is never resumed, even when another pty takes its
// number, and nothing is sent to the one that took it.
#include "CliRun.h"
#include "Commands.h"
#include "EdgeBlocks.h"
#include "ParamFile.h"
#include "StationSimulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace vostrel {

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class CliReturn : public TCliScratch {
protected:
    void SetUp() override
    {
        MakeScratch("vostrel-cli-return");
        TParamFile plan;
        plan.Set = WorkedSet();
        std::ofstream(dir / "plan.txt", std::ios::binary) << FormatParamFile(plan);
    }
};

}  // namespace

TEST_F(CliReturn, APtyByItsKernelNameIsNotResumedWhenAnotherTakesItsNumber)
{
    auto gone = std::make_unique<StationSimulator>();  // silent: the series waits on it
    const std::string kernelName = gone->SlavePath();
    TCliRun run({"program", kernelName, (dir / "plan.txt").string(), "--each"}, env, dir);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(Eventually([&] { return gone->PurgeCount() > 0; }, 20000)) << run.Err();
    gone->HangUp();
    ASSERT_TRUE(Eventually([&] { return run.Err().find("Порт закрыт") != std::string::npos; }, 20000)) << run.Err();
    gone.reset();

    // The kernel hands out the lowest free number: take ptys until one has it.
    StationConfig greeter;
    greeter.GreetOnWait = true;  // were it opened, it would be read and programmed
    std::vector<std::unique_ptr<StationSimulator>> others;
    const StationSimulator* taker = nullptr;
    while (taker == nullptr && others.size() < 32) {
        others.push_back(std::make_unique<StationSimulator>(greeter));
        if (others.back()->SlavePath() == kernelName)
            taker = others.back().get();
    }
    if (taker == nullptr) {
        run.Signal(SIGINT);
        GTEST_SKIP() << "another program took " << kernelName << " first";
    }
    // Several of the twice-a-second looks for the device.
    std::this_thread::sleep_for(3s);
    run.Signal(SIGINT);
    EXPECT_EQ(run.Wait(15000), ExitCode::PortFailed) << run.Err();
    EXPECT_EQ(taker->PurgeCount(), 0);
    EXPECT_TRUE(taker->ReceivedBytes().empty());
    EXPECT_EQ(run.Err().find("вернулся"), std::string::npos) << run.Err();
    EXPECT_NE(run.Out().find("порт не вернулся"), std::string::npos) << run.Out();
}

}  // namespace vostrel
