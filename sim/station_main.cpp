// vostrel-station: a Vostrel station on a pseudo-terminal, for demos and by hand.
// The first line of output is the slave path the utility should open.

#include "ParamBlock.h"
#include "StationSimulator.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using namespace vostrel;

namespace {

void Usage(std::FILE* to)
{
    std::fputs("usage: vostrel-station [options]\n"
               "  --greet-on-wait     greet whenever the utility purges its input (begins a wait)\n"
               "  --greet-every SEC   greet every SEC seconds\n"
               "  --trace             print every byte: ms since start, direction, hex\n"
               "  --block HEX         the 34-byte block answered in packet 01, also after\n"
               "                      programming (without it the station answers with\n"
               "                      what it was last programmed with)\n"
               "  --link PATH         make PATH a symlink to the slave pty while running\n"
               "  --store-fault N     keep a programmed block with byte N's bit 2 flipped\n"
               "  --answer-delay MS   delay from packet 08 to packet 01 (default 50)\n"
               "  --greet-delay MS    delay from the purge to the greeting (default 100)\n"
               "  --pace              send each byte in its line time (10 bits at 4800 bit/s,\n"
               "                      2.083 ms) instead of each packet in one go\n"
               "  --fault NAME[:N]    misbehave in every exchange: stray, noetx, wrongnum, cut,\n"
               "                      silence, crcdle, noise, hangup, corrupt (block byte N,\n"
               "                      default 1, flipped on the line under the true block's CRC)\n"
               "  --fault-once        misbehave in the first exchange only, then answer well\n",
               to);
}

bool ParseHex(const std::string& text, TByteArray& out)
{
    out.clear();
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else if (c == ' ' || c == ':' || c == '-' || c == ',')
            continue;
        else
            return false;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return high < 0;
}

bool ParseNumber(const char* text, double& out)
{
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && out >= 0;
}

}  // namespace

int main(int argc, char** argv)
{
    StationConfig config;
    bool trace = false;
    double greetEvery = 0;
    std::string linkPath;
    StationFault fault = StationFault::None;
    int faultParam = -1;
    bool faultOnce = false;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        double number = 0;
        if (arg == "--greet-on-wait") {
            config.GreetOnWait = true;
        } else if (arg == "--trace") {
            trace = true;
        } else if (arg == "--pace") {
            config.ByteInterval = kLineByteTime;
        } else if (arg == "--greet-every" && hasValue && ParseNumber(argv[i + 1], number) && number > 0) {
            greetEvery = number;
            ++i;
        } else if (arg == "--answer-delay" && hasValue && ParseNumber(argv[i + 1], number)) {
            config.AnswerDelay = std::chrono::milliseconds(static_cast<long>(number));
            ++i;
        } else if (arg == "--greet-delay" && hasValue && ParseNumber(argv[i + 1], number)) {
            config.GreetDelay = std::chrono::milliseconds(static_cast<long>(number));
            ++i;
        } else if (arg == "--block" && hasValue) {
            config.KeepsProgrammed = false;
            if (!ParseHex(argv[++i], config.Block) || config.Block.size() != kBlockSize) {
                std::fprintf(stderr, "vostrel-station: --block needs %d bytes in hex\n", kBlockSize);
                return 2;
            }
        } else if (arg == "--store-fault" && hasValue && ParseNumber(argv[i + 1], number) && number >= 0 &&
                   number < kBlockSize) {
            config.StoreFlip = static_cast<int>(number);
            ++i;
        } else if (arg == "--link" && hasValue) {
            linkPath = argv[++i];
        } else if (arg == "--fault" && hasValue) {
            std::string value = argv[++i];
            const auto colon = value.find(':');
            if (colon != std::string::npos) {
                faultParam = std::atoi(value.c_str() + colon + 1);
                value.resize(colon);
            }
            if (!ParseStationFault(value, fault)) {
                std::fprintf(stderr, "vostrel-station: unknown fault '%s'\n", value.c_str());
                return 2;
            }
        } else if (arg == "--fault-once") {
            faultOnce = true;
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "vostrel-station: bad option '%s'\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }

    // Blocked before the simulator's thread starts, so only sigtimedwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const auto start = SimClock::now();
    auto msSince = [start](SimClock::time_point t) {
        return std::chrono::duration<double, std::milli>(t - start).count();
    };
    if (trace) {
        config.OnByte = [msSince](const LineByte& b) {
            std::printf("%10.3f  %s  %02X\n", msSince(b.Time), b.FromStation ? "S->U" : "U->S", b.Byte);
            std::fflush(stdout);
        };
        config.OnEvent = [msSince](SimClock::time_point t, const std::string& text) {
            std::printf("%10.3f  # %s\n", msSince(t), text.c_str());
            std::fflush(stdout);
        };
    }

    try {
        StationSimulator station(std::move(config));
        if (fault != StationFault::None)
            station.SetFault(fault, faultParam, !faultOnce);
        if (!linkPath.empty()) {
            struct stat st {};
            if (::lstat(linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
                ::unlink(linkPath.c_str());
            if (::symlink(station.SlavePath().c_str(), linkPath.c_str()) != 0) {
                std::fprintf(stderr, "vostrel-station: cannot link %s: %s\n", linkPath.c_str(), std::strerror(errno));
                linkPath.clear();
            }
        }
        // Printed last: once the path is out, the station and its link are ready.
        std::printf("%s\n", station.SlavePath().c_str());
        std::fflush(stdout);

        auto nextGreeting = SimClock::now();
        for (;;) {
            auto wait = std::chrono::milliseconds(250);
            if (greetEvery > 0) {
                const auto now = SimClock::now();
                if (now >= nextGreeting) {
                    station.SendGreeting();
                    nextGreeting =
                        now + std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(greetEvery));
                }
                wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(nextGreeting - now));
            }
            timespec ts{};
            ts.tv_sec = static_cast<time_t>(wait.count() / 1000);
            ts.tv_nsec = static_cast<long>(wait.count() % 1000) * 1000000L;
            const int sig = sigtimedwait(&stopSignals, nullptr, &ts);
            if (sig > 0 || station.IsDead())
                break;
        }

        if (!linkPath.empty()) {
            char target[256] = {};
            const ssize_t n = ::readlink(linkPath.c_str(), target, sizeof target - 1);
            if (n > 0 && station.SlavePath() == std::string(target, static_cast<std::size_t>(n)))
                ::unlink(linkPath.c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vostrel-station: %s\n", e.what());
        return 1;
    }
    return 0;
}
