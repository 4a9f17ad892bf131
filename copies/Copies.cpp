#include "Copies.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace vostrel {

namespace {

// More copies than this of one station in one second is a fault, not a series.
constexpr int kMaxSameName = 1000;

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

// The system's error of a Qt file operation that just failed: from errno
// where the system keeps it there, else Qt's own text of it.
QString LastFileError(const QFileDevice& f, int savedErrno)
{
#ifndef Q_OS_WIN
    if (savedErrno != 0) {
        const std::error_code ec(savedErrno, std::generic_category());
        const QString ru = Russian(ec);
        if (ru != QString::fromLocal8Bit(ec.message()))
            return ru;
    }
#else
    (void)savedErrno;
#endif
    return f.errorString();
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

    for (int n = 1; n <= kMaxSameName; ++n) {
        const QString name = base + (n > 1 ? QStringLiteral("-%1").arg(n) : QString()) + QStringLiteral(".txt");
        const QString path = QDir(folder).filePath(name);
        // The name is taken first, so that no other copy can take it while
        // this one is written; the finished file then replaces the empty one.
        QFile claim(path);
        errno = 0;
        if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            const int err = errno;
            if (QFileInfo::exists(path))
                continue;
            return Failed(path, LastFileError(claim, err));
        }
        claim.close();

        QSaveFile save(path);
        errno = 0;
        bool ok = save.open(QIODevice::WriteOnly);
        ok = ok && save.write(text) == text.size();
        ok = ok && save.commit();
        if (!ok) {
            const int err = errno;
            const QString why = LastFileError(save, err);
            save.cancelWriting();
            QFile::remove(path);
            return Failed(path, why);
        }
        return TCopySaved{true, QDir::toNativeSeparators(path), QString()};
    }
    return Failed(QDir(folder).filePath(base + QStringLiteral(".txt")),
                  QStringLiteral("слишком много копий с этим именем"));
}

}  // namespace vostrel
