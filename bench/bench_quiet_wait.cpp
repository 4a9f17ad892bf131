// What waiting costs: wake-ups per second (context switches of all threads)
// and CPU of the window waiting for a station on a silent simulated line, of
// its thank-you page, and of vostrel-cli waiting, beside a bare Qt window, each
// a process of its own measured from here through /proc. Prints numbers,
// asserts nothing. The platform is QT_QPA_PLATFORM's (offscreen when unset);
// run it under xvfb-run for X11.
//   vostrel-bench-quiet-wait [seconds=10]
#include "Application.h"
#include "Main.h"

#include "StationSimulator.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace vostrel;

namespace {

using Clock = std::chrono::steady_clock;

// ---- the measured processes ----

int BareWindow(int argc, char* argv[])
{
    const auto app = MakeApplication(argc, argv);
    QWidget w;
    w.setFixedSize(736, 456);
    new QLabel(QStringLiteral("Vostrel"), &w);
    w.show();
    return app->exec();
}

// The window on the given port. With a thank-you page of thankYouMs, the
// station's parameters are programmed from an edit that has the keyboard
// (whose cursor would blink), and "page" is printed as the page comes up.
int Window(int argc, char* argv[], const QString& port, std::uint32_t thankYouMs)
{
    const auto app = MakeApplication(argc, argv);
    const QTemporaryDir copies;
    TWindowOptions options;
    options.PortNames = [port] { return QStringList{port}; };
    options.CopiesDir = copies.filePath(QStringLiteral("copies"));
    options.ThankYouMs = thankYouMs;
    TfmMain w(options);
    w.show();
    if (thankYouMs > 0) {
        // Ticks only until the parameters are shown.
        auto* look = new QTimer(&w);
        QObject::connect(look, &QTimer::timeout, &w, [&w, look] {
            if (!ConnectedFlag)
                return;
            look->stop();
            w.activateWindow();
            w.findChild<QWidget*>(QStringLiteral("edZPCH1_RxFreq"))->setFocus();
            std::printf("page\n");
            std::fflush(stdout);
            w.findChild<QPushButton*>(QStringLiteral("butProgr"))->click();
        });
        look->start(50);
    }
    return app->exec();
}

// ---- measuring from outside ----

struct TSample {
    long switches = 0;  // voluntary and involuntary, all threads
    double cpuMs = 0;   // time on a CPU, all threads
    int threads = 0;
};

long Field(const std::string& path, const std::string& key)
{
    std::ifstream f(path);
    std::string line;
    while (std::getline(f, line)) {
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + key.size());
    }
    return 0;
}

TSample Sample(pid_t pid)
{
    TSample s;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = ::opendir(tasks.c_str());
    if (d == nullptr)
        return s;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string task = tasks + "/" + e->d_name;
        s.switches += Field(task + "/status", "voluntary_ctxt_switches:") +
                      Field(task + "/status", "nonvoluntary_ctxt_switches:");
        // The first field: nanoseconds on a CPU.
        std::ifstream stat(task + "/schedstat");
        double ns = 0;
        stat >> ns;
        s.cpuMs += ns / 1e6;
        ++s.threads;
    }
    ::closedir(d);
    return s;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& out)
{
    std::vector<char*> a;
    for (const auto& s : args)
        a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, a[0], &files, nullptr, a.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

bool FileSays(const std::string& path, const std::string& word, int timeoutMs)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
        std::ifstream f(path);
        const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        if (text.find(word) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// Lets the process settle, measures it for seconds and ends it with signal;
// prints one row. Returns the milliseconds the process took to end.
double Measure(const char* what, pid_t pid, int seconds, int signal)
{
    if (pid <= 0) {
        std::printf("%-44s not started\n", what);
        return -1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const TSample a = Sample(pid);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const TSample b = Sample(pid);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%-44s %8.1f %8.2f %% %8d\n", what, static_cast<double>(b.switches - a.switches) / wall,
                (b.cpuMs - a.cpuMs) / (wall * 10.0), b.threads);
    std::fflush(stdout);
    const auto sent = Clock::now();
    ::kill(pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && std::string(argv[1]) == "--bare")
        return BareWindow(argc, argv);
    if (argc > 2 && std::string(argv[1]) == "--window")
        return Window(argc, argv, QString::fromLocal8Bit(argv[2]), 0);
    if (argc > 3 && std::string(argv[1]) == "--thank-you")
        return Window(argc, argv, QString::fromLocal8Bit(argv[2]), static_cast<std::uint32_t>(std::atol(argv[3])));

    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const std::string self = "/proc/self/exe";
    char exe[4096] = {};
    const ssize_t n = ::readlink(self.c_str(), exe, sizeof exe - 1);
    if (n <= 0)
        return 1;
    const std::string dir = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                            "/vostrel-bench-quiet-" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0700);
    const std::string out = dir + "/out.txt";

    std::printf("platform %s, %d s each after 2 s to settle; a silent simulated station on a pty\n\n",
                qgetenv("QT_QPA_PLATFORM").constData(), seconds);
    std::printf("%-44s %8s %10s %8s\n", "", "wake/s", "CPU", "threads");

    Measure("bare Qt window", Spawn({exe, "--bare"}, out), seconds, SIGTERM);
    {
        StationSimulator silent;
        Measure("the window, waiting for a station", Spawn({exe, "--window", silent.SlavePath()}, out), seconds,
                SIGTERM);
    }
    for (const bool after : {false, true}) {
        StationConfig config;
        config.GreetOnWait = true;
        StationSimulator station(config);
        const std::string pageMs = std::to_string(after ? 1000 : (seconds + 10) * 1000);
        const pid_t pid = Spawn({exe, "--thank-you", station.SlavePath(), pageMs}, out);
        if (!FileSays(out, "page", 20000))
            std::printf("the thank-you page did not come up\n");
        // The next wait stays silent.
        station.SetGreetOnWait(false);
        Measure(after ? "the window, waiting after programming" : "the window, thank-you page", pid, seconds, SIGTERM);
    }
    {
        StationSimulator silent;
        const pid_t pid = Spawn({VOSTREL_CLI, "read", silent.SlavePath(), "-o", dir + "/read.txt"}, out);
        const double stopMs = Measure("vostrel-cli read, waiting (output not a tty)", pid, seconds, SIGINT);
        std::printf("\nCtrl+C (SIGINT) to vostrel-cli's exit: %.1f ms\n", stopMs);
    }
    ::unlink(out.c_str());
    ::unlink((dir + "/read.txt").c_str());
    ::rmdir(dir.c_str());
    return 0;
}
