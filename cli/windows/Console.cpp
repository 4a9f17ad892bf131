#include "Console.h"

#include <windows.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <future>
#include <io.h>
#include <iostream>
#include <memory>
#include <thread>

namespace vostrel {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_finished{false};

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    g_interrupted = true;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this returns: give the goodbye its time.
        for (int i = 0; i < 400 && !g_finished; ++i)
            Sleep(10);
    }
    return TRUE;
}

}  // namespace

void InstallInterruptHandlers()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool Interrupted()
{
    return g_interrupted;
}

bool WaitReadableOrInterrupt(int, int)
{
    return false;
}

void MarkFinished()
{
    g_finished = true;
}

void PrepareConsole()
{
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
}

bool IsTerminal(std::FILE* stream)
{
    return _isatty(_fileno(stream)) != 0;
}

bool SameDevice(const std::string& a, const std::string& b)
{
    // "\\.\COM3" and "com3" are one port.
    const auto bare = [](std::string s) {
        if (s.rfind("\\\\.\\", 0) == 0)
            s.erase(0, 4);
        for (char& c : s)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    return bare(a) == bare(b);
}

std::optional<std::string> ReadAnswerLine()
{
    // A console read does not end on Ctrl+C by itself: it runs aside, and is
    // left behind when an interrupt comes first.
    auto done = std::make_shared<std::promise<std::optional<std::string>>>();
    auto answer = done->get_future();
    std::thread([done] {
        std::string line;
        if (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            done->set_value(line);
        } else {
            done->set_value(std::nullopt);
        }
    }).detach();
    while (answer.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (Interrupted())
            return std::nullopt;
    }
    return answer.get();
}

// The port offers nothing to sleep on here: the callers poll, and look at
// the interrupt and the lost output on every pass.
bool WaitReadable(int, int)
{
    return false;
}

void WakeWaits()
{}

}  // namespace vostrel
