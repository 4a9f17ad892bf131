#include "Console.h"
#include "EndAllowance.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <future>
#include <io.h>
#include <iostream>
#include <memory>
#include <thread>

namespace vostrel {

namespace {

std::atomic<bool> g_interrupted{false};
// Set once the goodbye is done; what holds a console close or a session end
// waits on it.
HANDLE g_finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
// GetTickCount64 of the first notice that the console or the session ends.
std::atomic<std::uint64_t> g_endNoticed{0};

// The console's code pages as the program found them; 0 where it had none.
UINT g_inputCodePage = 0;
UINT g_outputCodePage = 0;
std::terminate_handler g_previousTerminate = nullptr;

// Waits for the goodbye within what Windows allows from the first notice.
void HoldForGoodbye()
{
    std::uint64_t expected = 0;
    g_endNoticed.compare_exchange_strong(expected, ::GetTickCount64());
    ::WaitForSingleObject(g_finished, AllowanceLeftMs(g_endNoticed, ::GetTickCount64()));
}

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    g_interrupted = true;
    // The process ends when this returns. Log-off and shutdown never come
    // here in a program that loads user32 (Qt does): the session window
    // below gets those.
    if (event == CTRL_CLOSE_EVENT)
        HoldForGoodbye();
    return TRUE;
}

// Packets on the line now, over every port.
std::atomic<int> g_packetsOnLine{0};
// The session window, and whether it shows a reason for a refused end.
std::atomic<HWND> g_sessionWindow{nullptr};
bool g_refusing = false;
constexpr UINT kPacketsOver = WM_APP + 1;
constexpr wchar_t kHoldReason[] = L"Vostrel завершает обмен со станцией";

// A console program learns of a log-off or shutdown only through a window of
// its own: top-level, never shown, on a thread of its own. The query only
// asks: another program may still refuse it, and the series goes on then.
// The end itself comes with WM_ENDSESSION.
LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_QUERYENDSESSION:
        // A packet is never cut short; a critical end cannot be refused.
        if (g_packetsOnLine > 0 && !(lParam & ENDSESSION_CRITICAL)) {
            ::ShutdownBlockReasonCreate(window, kHoldReason);
            g_refusing = true;
            return FALSE;
        }
        return TRUE;
    case WM_ENDSESSION:
        // Once this returns the process may be ended at any moment.
        if (wParam) {
            g_interrupted = true;
            ::ShutdownBlockReasonCreate(window, kHoldReason);
            HoldForGoodbye();
        }
        ::ShutdownBlockReasonDestroy(window);
        g_refusing = false;
        return 0;
    case kPacketsOver:
        if (g_refusing && g_packetsOnLine == 0) {
            ::ShutdownBlockReasonDestroy(window);
            g_refusing = false;
        }
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

void RunSessionWindow()
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = SessionWindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VostrelCliSession";
    if (!::RegisterClassW(&wc))
        return;
    // Not a message-only window: those get no session messages.
    const HWND window = ::CreateWindowExW(0, wc.lpszClassName, L"vostrel-cli", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                          nullptr, wc.hInstance, nullptr);
    if (!window)
        return;
    g_sessionWindow = window;
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0)
        ::DispatchMessageW(&msg);
}

// Output still buffered is written in the code page it was made for. Only
// the two outputs: flushing every stream would wait on standard input's
// lock.
void RestoreConsole()
{
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    if (g_outputCodePage != 0)
        ::SetConsoleOutputCP(g_outputCodePage);
    if (g_inputCodePage != 0)
        ::SetConsoleCP(g_inputCodePage);
}

[[noreturn]] void RestoreConsoleAndTerminate()
{
    RestoreConsole();
    if (g_previousTerminate)
        g_previousTerminate();
    std::abort();
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int wide = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, out.data(), bytes, nullptr, nullptr);
    return out;
}

// A line typed at the console, read as the console holds it: a narrow read
// in code page 65001 turns every key outside ASCII into NUL on Windows 10.
std::optional<std::string> ReadConsoleLine(HANDLE input)
{
    std::wstring line;
    while (line.empty() || line.back() != L'\n') {
        wchar_t chunk[256];
        DWORD got = 0;
        // Nothing read: Ctrl+C, or the console went away.
        if (!::ReadConsoleW(input, chunk, 256, &got, nullptr) || got == 0)
            return std::nullopt;
        line.append(chunk, got);
    }
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r'))
        line.pop_back();
    // Ctrl+Z at the start of a line ends the input.
    if (!line.empty() && line.front() == L'\x1A')
        return std::nullopt;
    return Utf8(line);
}

// The code page a program writing into our pipe most likely used: the
// console's as it was found, or the system's OEM one.
UINT PipedCodePage()
{
    if (g_inputCodePage != 0 && g_inputCodePage != CP_UTF8)
        return g_inputCodePage;
    return ::GetOEMCP();
}

// A line from a pipe or a file, read from the handle itself and never
// through the runtime's stdin, whose lock a read left waiting would hold
// until exit. A pipe is read only once a byte waits, so an interrupt ends
// the wait and no read is left behind. Byte by byte: what follows the line
// stays in the pipe.
std::optional<std::string> ReadPipedLine(HANDLE input)
{
    const bool pipe = ::GetFileType(input) == FILE_TYPE_PIPE;
    std::string line;
    bool ended = false;
    while (!ended) {
        if (Interrupted())
            return std::nullopt;
        if (pipe) {
            DWORD waiting = 0;
            // Fails once the writer has closed the pipe and it is empty.
            if (!::PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr))
                break;
            if (waiting == 0) {
                ::Sleep(20);
                continue;
            }
        }
        char byte = 0;
        DWORD got = 0;
        if (!::ReadFile(input, &byte, 1, &got, nullptr) || got == 0)
            break;
        ended = byte == '\n';
        if (!ended)
            line.push_back(byte);
    }
    // The input ended with nothing: no answer. A last line without its end
    // counts.
    if (!ended && line.empty())
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return AnswerInUtf8(line, PipedCodePage());
}

}  // namespace

std::string AnswerInUtf8(const std::string& bytes, unsigned codePage)
{
    if (bytes.empty())
        return bytes;
    const int size = static_cast<int>(bytes.size());
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0) > 0)
        return bytes;
    const int wide = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (wide <= 0)
        return bytes;
    std::wstring text(static_cast<std::size_t>(wide), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), size, text.data(), wide);
    return Utf8(text);
}

void OpenClosedStandardStreams()
{
    // Started without a standard handle: NUL takes its place, so a write
    // there goes nowhere rather than failing as lost output.
    const struct {
        std::FILE* Stream;
        DWORD Id;
        const char* Mode;
    } streams[] = {{stdin, STD_INPUT_HANDLE, "r"}, {stdout, STD_OUTPUT_HANDLE, "w"}, {stderr, STD_ERROR_HANDLE, "w"}};
    for (const auto& s : streams) {
        const HANDLE handle = ::GetStdHandle(s.Id);
        if (_fileno(s.Stream) < 0 || handle == nullptr || handle == INVALID_HANDLE_VALUE)
            static_cast<void>(std::freopen("NUL", s.Mode, s.Stream));
    }
}

// Windows has no job-control stops: only a session end looks at packets.
void PacketBegins()
{
    ++g_packetsOnLine;
}

void PacketEnded()
{
    if (--g_packetsOnLine == 0 && g_sessionWindow.load())
        ::PostMessageW(g_sessionWindow, kPacketsOver, 0, 0);
}

void HoldTerminalStopsInThisThread()
{}

void StopIfBackgroundWriter(int)
{}

void InstallInterruptHandlers()
{
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    std::thread(RunSessionWindow).detach();
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
    ::SetEvent(g_finished);
}

void PrepareConsole()
{
    // Other programs in the same console (batch files, older tools) read
    // their text in the code pages they found: these go back at exit.
    if (g_outputCodePage == 0 && g_inputCodePage == 0) {
        g_outputCodePage = ::GetConsoleOutputCP();
        g_inputCodePage = ::GetConsoleCP();
        std::atexit(RestoreConsole);
        g_previousTerminate = std::set_terminate(RestoreConsoleAndTerminate);
    }
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCP(CP_UTF8);
}

bool IsTerminal(std::FILE* stream)
{
    return _isatty(_fileno(stream)) != 0;
}

bool CanReadAnswer()
{
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return false;
    DWORD mode = 0;
    switch (::GetFileType(input)) {
    case FILE_TYPE_CHAR:
        // The console; NUL is a character device without a console mode.
        return ::GetConsoleMode(input, &mode) != 0;
    case FILE_TYPE_PIPE:
        // A pipe whose writer has closed it with nothing left is broken; the
        // writer may be ending just now, so it gets a moment. Peeking reads
        // nothing.
        for (int k = 0; k < 10; ++k) {
            DWORD waiting = 0;
            if (!::PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr))
                return ::GetLastError() != ERROR_BROKEN_PIPE;
            if (waiting > 0)
                return true;
            ::Sleep(20);
        }
        return true;
    case FILE_TYPE_DISK: {
        LARGE_INTEGER size{};
        return ::GetFileSizeEx(input, &size) != 0 && size.QuadPart > 0;
    }
    default:
        return false;
    }
}

std::optional<std::string> ReadAnswerLine()
{
    // Typed at the console: read wide. From a pipe or a file: UTF-8, or the
    // console's code page where it is not.
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return std::nullopt;
    DWORD mode = 0;
    if (!::GetConsoleMode(input, &mode))
        return ReadPipedLine(input);
    // A console read does not end on Ctrl+C by itself: it runs aside, and is
    // left behind when an interrupt comes first.
    auto done = std::make_shared<std::promise<std::optional<std::string>>>();
    auto answer = done->get_future();
    std::thread([done, input] { done->set_value(ReadConsoleLine(input)); }).detach();
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
