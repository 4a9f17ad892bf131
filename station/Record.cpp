#include "Record.h"

#include <cerrno>
#include <ctime>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <filesystem>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vostrel {

namespace {

// The system's calls, one small set per platform.
#ifdef _WIN32
int OpenForAppend(const std::string& path)
{
    // The name is UTF-8; the wide call takes any name the system allows.
    const std::filesystem::path name(std::u8string(path.begin(), path.end()));
    return _wopen(name.c_str(), _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

long long SizeOf(int fd)
{
    return _lseeki64(fd, 0, SEEK_END);
}

bool ByteAt(int fd, long long at, char& c)
{
    return _lseeki64(fd, at, SEEK_SET) == at && _read(fd, &c, 1) == 1;
}

long WriteSome(int fd, const char* data, std::size_t size)
{
    return _write(fd, data, static_cast<unsigned>(size));
}

bool SyncToDisk(int fd)
{
    // NUL, the console or a pipe has no disk to reach, and refuses the call.
    struct _stat64 st {};
    if (_fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) != _S_IFREG)
        return true;
    return _commit(fd) == 0;
}

// NTFS keeps a new file's name in its journal with the file.
void SyncFolderOf(const std::string&)
{}

void CloseFile(int fd)
{
    _close(fd);
}

void LocalTime(std::time_t t, std::tm& out)
{
    localtime_s(&out, &t);
}
#else
int OpenForAppend(const std::string& path)
{
    // O_APPEND: each row lands whole at the end, also beside another process
    // writing the same record.
    return open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}

long long SizeOf(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

bool ByteAt(int fd, long long at, char& c)
{
    return pread(fd, &c, 1, static_cast<off_t>(at)) == 1;
}

long WriteSome(int fd, const char* data, std::size_t size)
{
    ssize_t n;
    do {
        n = write(fd, data, size);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

bool SyncToDisk(int fd)
{
    // A terminal, /dev/null, a pipe or a FIFO has no disk to reach, and
    // refuses the call.
    struct stat st {};
    if (fstat(fd, &st) == 0 && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
        return true;
    int r;
    do {
        r = fdatasync(fd);
    } while (r < 0 && errno == EINTR);
    return r == 0;
}

// A new file's name is on the disk only once its folder is.
void SyncFolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

void CloseFile(int fd)
{
    close(fd);
}

void LocalTime(std::time_t t, std::tm& out)
{
    localtime_r(&t, &out);
}
#endif

constexpr char kSeparator = ';';

// As the result lines show the time.
std::string LocalNow()
{
    std::tm tm{};
    LocalTime(std::time(nullptr), tm);
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm));
}

std::string Reason(int error)
{
    return std::generic_category().message(error);
}

}  // namespace

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(std::string{kSeparator, '"', '\r', '\n'}) == std::string::npos)
        return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

std::string CsvRow(const std::vector<std::string>& fields)
{
    std::string out;
    for (std::size_t k = 0; k < fields.size(); ++k)
        out += (k == 0 ? "" : std::string(1, kSeparator)) + CsvField(fields[k]);
    return out + "\r\n";
}

std::string RecordHeader()
{
    return CsvRow({"Время", "Порт", "Устройство", "Станция", "Событие", "Подробности", "Копии", "Примечание"});
}

TRecord::TRecord(std::function<void(const std::string&)> tell) : m_tell(std::move(tell))
{}

TRecord::~TRecord()
{
    if (m_fd >= 0)
        CloseFile(m_fd);
}

bool TRecord::Open(const std::string& path)
{
    const std::lock_guard<std::mutex> hold(m_mutex);
    if (m_fd >= 0)
        CloseFile(m_fd);
    m_path = path;
    m_failed = false;
    m_fd = OpenForAppend(path);
    if (m_fd < 0) {
        m_failure = Reason(errno);
        m_failed = true;
        return false;
    }
    const long long size = SizeOf(m_fd);
    char last = '\n';
    std::string start;
    if (size == 0)
        start = "\xEF\xBB\xBF" + RecordHeader();
    else if (size > 0 && ByteAt(m_fd, size - 1, last) && last != '\n')
        start = "\r\n";  // the row a kill cut short stays alone on its line
    if (size < 0) {
        m_failure = Reason(errno);
        m_failed = true;
    } else if (!start.empty()) {
        m_failed = !Write(start);
    }
    if (!m_failed && size == 0)
        SyncFolderOf(path);
    return !m_failed;
}

bool TRecord::Write(const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        const long n = WriteSome(m_fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            m_failure = n < 0 ? Reason(errno) : "запись не идёт";
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!SyncToDisk(m_fd)) {
        m_failure = Reason(errno);
        return false;
    }
    return true;
}

bool TRecord::Append(const TRecordRow& row) noexcept
{
    bool written = false;
    std::string told;
    try {
        const std::lock_guard<std::mutex> hold(m_mutex);
        if (m_failed)
            return false;
        try {
            std::string copies;
            for (const std::string& c : row.Copies)
                copies += (copies.empty() ? "" : ", ") + c;
            written =
                m_fd >= 0 &&
                Write(CsvRow({LocalNow(), row.Port, row.Device, row.Station > 0 ? std::to_string(row.Station) : "",
                              row.Event, row.Details, copies, row.Note}));
        } catch (const std::exception&) {
            m_failure = "не хватило памяти";
        }
        if (!written) {
            m_failed = true;
            told = "Журнал " + m_path + " не записан: " + m_failure + ". Работа идёт дальше без журнала.";
        }
    } catch (...) {
        return written;
    }
    if (!told.empty() && m_tell) {
        try {
            m_tell(told);
        } catch (...) {
            // Nowhere left to say it.
        }
    }
    return written;
}

bool TRecord::Failed() const
{
    const std::lock_guard<std::mutex> hold(m_mutex);
    return m_failed;
}

}  // namespace vostrel
