// Test helpers: a pseudo-terminal whose master side plays the station, and an
// owner thread's message queue for the component's synchronous hand-over.
#pragma once

#include "CommInt.h"
#include "CommTestCommon.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vostrel {

// The master side of a fresh pty; SlavePath() is what the component opens.
class PtyStation {
public:
    PtyStation();
    ~PtyStation();
    PtyStation(const PtyStation&) = delete;
    PtyStation& operator=(const PtyStation&) = delete;

    bool Ok() const { return m_master >= 0; }
    const std::string& SlavePath() const { return m_slavePath; }
    int Master() const { return m_master; }
    void Send(const std::vector<std::uint8_t>& bytes);
    // Reads what the component sent, until count bytes or the time is up.
    std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs = 5000);
    // Hangs up the line: the component's side then sees EIO and POLLHUP.
    void HangUp();

private:
    int m_master = -1;
    std::string m_slavePath;
};

// A queue the test's thread drains, standing in for the window's event loop.
// The dispatcher blocks its caller until the task has run on the draining
// thread; after Shutdown it refuses new tasks and releases waiting ones.
class OwnerLoop {
public:
    OwnerLoop();
    ~OwnerLoop();
    TSyncDispatcher Dispatcher();
    // Runs queued tasks until pred is true or the time is up; returns pred().
    bool ProcessUntil(const std::function<bool()>& pred, int timeoutMs);
    void ProcessFor(int ms);
    std::size_t Pending() const;
    void Shutdown();

private:
    struct Core;
    std::shared_ptr<Core> m_core;
};

// Input and output bit rates of the line fd, as the kernel holds them.
std::pair<std::uint32_t, std::uint32_t> LineSpeeds(int fd);

// Threads of this process right now.
int ThreadCount();

}  // namespace vostrel
