#include "Copies.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>
#endif

namespace vostrel {

namespace {

// More copies than this of one station in one second is a fault, not a series.
constexpr int kMaxSameName = 1000;
// A copy is written under such a name first; hidden, and known to the clean-up.
const QString kTempPrefix = QStringLiteral(".copy-");
const QString kTempSuffix = QStringLiteral(".tmp");
// A copy is a few hundred bytes written at once: a temporary this old was left
// by a writer that died, not one at work.
constexpr qint64 kLeftoverSeconds = 10 * 60;

QString Russian(const std::error_code& ec)
{
    if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted)
        return QStringLiteral("нет прав на запись");
    if (ec == std::errc::read_only_file_system)
        return QStringLiteral("диск только для чтения");
    if (ec == std::errc::no_space_on_device)
        return QStringLiteral("на диске нет места");
#ifdef EDQUOT
    if (ec.value() == EDQUOT && ec.category() == std::generic_category())
        return QStringLiteral("исчерпана дисковая квота");
#endif
    if (ec == std::errc::not_a_directory || ec == std::errc::file_exists)
        return QStringLiteral("на месте папки стоит файл");
    if (ec == std::errc::filename_too_long)
        return QStringLiteral("слишком длинный путь");
    if (ec == std::errc::io_error)
        return QStringLiteral("ошибка ввода-вывода");
    return QString::fromLocal8Bit(ec.message());
}

#ifdef Q_OS_WIN
// System error codes are GetLastError()'s here.

QString SystemReason(int err)
{
    if (err == ERROR_ACCESS_DENIED)
        return QStringLiteral("нет прав на запись");
    if (err == ERROR_WRITE_PROTECT)
        return QStringLiteral("диск только для чтения");
    if (err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL)
        return QStringLiteral("на диске нет места");
    // Others in the system's own words and language.
    wchar_t* text = nullptr;
    const DWORD n =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, static_cast<DWORD>(err), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString reason = n != 0 && text != nullptr ? QString::fromWCharArray(text, static_cast<int>(n)).trimmed()
                                               : QStringLiteral("ошибка %1").arg(err);
    if (text != nullptr)
        ::LocalFree(text);
    while (reason.endsWith(u'.'))
        reason.chop(1);
    return reason;
}

bool Taken(int err)
{
    return err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS;
}

std::wstring Native(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// Creates path, which must not exist, with text in it, flushed to the disk.
int WriteNew(const QString& path, const QByteArray& text)
{
    const HANDLE h =
        ::CreateFileW(Native(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return static_cast<int>(::GetLastError());
    DWORD written = 0;
    int err = 0;
    if (!::WriteFile(h, text.constData(), static_cast<DWORD>(text.size()), &written, nullptr) || !::FlushFileBuffers(h))
        err = static_cast<int>(::GetLastError());
    else if (written != static_cast<DWORD>(text.size()))
        err = ERROR_HANDLE_DISK_FULL;
    if (!::CloseHandle(h) && err == 0)
        err = static_cast<int>(::GetLastError());
    if (err != 0)
        ::DeleteFileW(Native(path).c_str());
    return err;
}

// Gives temp the name path, which must not exist: without
// MOVEFILE_REPLACE_EXISTING the move fails on anything standing there.
int PlaceAt(const QString& temp, const QString& path)
{
    if (::MoveFileExW(Native(temp).c_str(), Native(path).c_str(), MOVEFILE_WRITE_THROUGH))
        return 0;
    return static_cast<int>(::GetLastError());
}
#else
// System error codes are errno's here.

QString SystemReason(int err)
{
    return Russian(std::error_code(err, std::generic_category()));
}

bool Taken(int err)
{
    return err == EEXIST;
}

// Creates path, which must not exist, with text in it, flushed to the disk.
int WriteNew(const QString& path, const QByteArray& text)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    int err = 0;
    for (qsizetype done = 0; err == 0 && done < text.size();) {
        const ssize_t n = ::write(fd, text.constData() + done, static_cast<std::size_t>(text.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0)
            err = EIO;
        else if (errno != EINTR)
            err = errno;
    }
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0)
        ::unlink(name.constData());
    return err;
}

// Gives temp the name path too, then drops temp: link() fails on anything
// standing at path, a dangling link included, where rename() would replace it.
int PlaceAt(const QString& temp, const QString& path)
{
    const QByteArray from = QFile::encodeName(temp);
    const QByteArray to = QFile::encodeName(path);
    int err = ::link(from.constData(), to.constData()) == 0 ? 0 : errno;
    if (err == 0) {
        ::unlink(from.constData());
    } else if (err == EPERM || err == ENOSYS || err == EOPNOTSUPP) {
        // No hard links on this file system (a FAT stick, some shares).
        err = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0 ? 0 : errno;
    }
    if (err != 0)
        return err;
    // The new name itself lasts a crash too.
    const int dir = ::open(QFile::encodeName(QFileInfo(path).path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}
#endif

// Removes the temporaries of copies cut short by a crash or a kill, once per
// folder and run, before its first copy. Either way round in time: a clock
// set back must not keep them for ever.
void RemoveLeftovers(const QString& folder)
{
    static std::mutex mutex;
    static QStringList done;
    const std::lock_guard<std::mutex> guard(mutex);
    if (done.contains(folder))
        return;
    done.append(folder);
    const QDateTime now = QDateTime::currentDateTime();
    const QFileInfoList temps = QDir(folder).entryInfoList(QStringList{kTempPrefix + u'*' + kTempSuffix},
                                                           QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& temp : temps) {
        if (std::llabs(temp.lastModified().secsTo(now)) >= kLeftoverSeconds)
            QFile::remove(temp.filePath());
    }
}

TCopySaved Failed(const QString& path, const QString& why)
{
    return TCopySaved{
        false, QDir::toNativeSeparators(path),
        QStringLiteral("Копия параметров не записана в «%1»: %2.").arg(QDir::toNativeSeparators(path), why)};
}

// Why the folder could not be made: a file standing on its path says so
// itself, whatever error the system gave.
QString FolderFailure(const QString& folder, const std::error_code& ec)
{
    for (QString p = QDir::cleanPath(folder); !p.isEmpty();) {
        const QFileInfo info(p);
        if (info.exists()) {
            if (!info.isDir())
                return QStringLiteral("на месте папки стоит файл «%1»").arg(QDir::toNativeSeparators(p));
            break;
        }
        const QString up = info.path();
        if (up == p)
            break;
        p = up;
    }
    return Russian(ec);
}

// Letters, digits and a few signs, so that a port's name or a device path
// makes a file name on every system.
QString NamePart(QString s, const QString& empty)
{
    for (QChar& c : s) {
        const bool plain =
            (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'.' || c == u'_';
        if (!plain)
            c = u'-';
    }
    while (s.startsWith(u'-') || s.startsWith(u'.'))
        s.remove(0, 1);
    while (s.endsWith(u'-') || s.endsWith(u'.'))
        s.chop(1);
    return s.isEmpty() ? empty : s;
}

QString NowText()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace

void SetApplicationNames()
{
    // No organisation: the folder is ".../vostrel" on every system.
    QCoreApplication::setOrganizationName(QString());
    QCoreApplication::setApplicationName(QStringLiteral("vostrel"));
}

QString CopiesFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/copies");
}

TParamFile CopyOfBlock(const std::string& kind, const QString& port, const TByteArray& block,
                       const TParameterSet& previous)
{
    return TParamFile{.Kind = kind,
                      .When = NowText().toStdString(),
                      .Port = port.toStdString(),
                      .Note = {},
                      .Set = ShownSet(block, previous),
                      .Raw = block};
}

TCopySaved SaveCopy(const QString& folder, const TParamFile& file)
{
    TParamFile copy = file;
    if (QString::fromStdString(copy.When).trimmed().isEmpty())
        copy.When = NowText().toStdString();

    std::error_code ec;
    const std::filesystem::path native(folder.toStdU16String());
    if (!std::filesystem::create_directories(native, ec) && !QFileInfo(folder).isDir())
        return Failed(folder, FolderFailure(folder, ec));

    QString when = QString::fromStdString(copy.When).trimmed();
    when.replace(u' ', u'_').replace(u':', u'-');
    const QString port = QString::fromStdString(copy.Port).trimmed().section(u' ', 0, 0);
    const QString base = NamePart(when, QStringLiteral("copy")) + u'_' + NamePart(port, QStringLiteral("port")) + u'_' +
                         NamePart(QString::fromStdString(copy.Kind), QStringLiteral("copy"));
    const QByteArray text = QByteArray::fromStdString(FormatParamFile(copy));

    RemoveLeftovers(folder);
    const QString firstPath = QDir(folder).filePath(base + QStringLiteral(".txt"));
    // Whole and on the disk under a private name first, so that a copy's name
    // never holds a part of one; then given the first name nothing stands at.
    QString temp;
    int err = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        temp = QDir(folder).filePath(kTempPrefix + QString::number(QRandomGenerator::global()->generate(), 16) +
                                     kTempSuffix);
        err = WriteNew(temp, text);
        if (!Taken(err))
            break;
    }
    if (err != 0)
        return Failed(firstPath, SystemReason(err));

    for (int n = 1; n <= kMaxSameName; ++n) {
        const QString name = base + (n > 1 ? QStringLiteral("-%1").arg(n) : QString()) + QStringLiteral(".txt");
        const QString path = QDir(folder).filePath(name);
        err = PlaceAt(temp, path);
        if (err == 0)
            return TCopySaved{true, QDir::toNativeSeparators(path), QString()};
        if (!Taken(err)) {
            QFile::remove(temp);
            return Failed(path, SystemReason(err));
        }
    }
    QFile::remove(temp);
    return Failed(firstPath, QStringLiteral("слишком много копий с этим именем"));
}

}  // namespace vostrel
