// Copies in a folder of the test's own: what is written reads back, names
// sort and never collide, and a folder that cannot be made is reported.
#include "Copies.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vostrel {

// Failures show a file as its text.
void PrintTo(const TParamFile& f, std::ostream* os)
{
    *os << "\n" << FormatParamFile(f);
}

namespace {

TByteArray StationBlock()
{
    TParameterSet set{.StepCode = 1,
                      .RxFreq = {145575.0L, 150000.0L},
                      .TxFreq = {145575.0L, 160000.0L},
                      .Simplex = {true, false},
                      .PowerCode = {3, 1},
                      .XoffAfter = 100,
                      .RxPause = 10,
                      .KodCode = 1,
                      .KodPaketSize = 24};
    TNullLog log;
    return EncodeBlock(set, log);
}

TParamFile Copy(const std::string& kind, const std::string& port = "COM1 (/dev/ttyUSB0)")
{
    TParamFile f = CopyOfBlock(kind, QString::fromStdString(port), StationBlock());
    f.When = "2026-12-07 21:03:55";
    return f;
}

TParamFile ReadBack(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray text = f.readAll();
    TParamFile out;
    TParamFileError error;
    EXPECT_TRUE(ParseParamFile(text.toStdString(), out, error)) << DescribeParamFileError(error);
    return out;
}

TEST(Copies, WrittenCopiesReadBackUnderNamesThatSortAndNeverCollide)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString folder = tmp.filePath(QStringLiteral("data/vostrel/copies"));

    const TParamFile read = Copy("read");
    const TCopySaved first = SaveCopy(folder, read);
    ASSERT_TRUE(first.Ok) << first.Reason.toStdString();
    EXPECT_EQ(QFileInfo(first.Path).fileName(), QStringLiteral("2026-12-07_21-03-55_COM1_read.txt"));
    EXPECT_EQ(ReadBack(first.Path), read);

    // The same station read again in the same second, then programmed.
    TParamFile again = read;
    again.Note = "second";
    const TCopySaved second = SaveCopy(folder, again);
    const TCopySaved third = SaveCopy(folder, again);
    TParamFile sent = Copy("sent");
    const TCopySaved programmed = SaveCopy(folder, sent);
    ASSERT_TRUE(second.Ok && third.Ok && programmed.Ok);
    EXPECT_EQ(QFileInfo(second.Path).fileName(), QStringLiteral("2026-12-07_21-03-55_COM1_read-2.txt"));
    EXPECT_EQ(QFileInfo(third.Path).fileName(), QStringLiteral("2026-12-07_21-03-55_COM1_read-3.txt"));
    EXPECT_EQ(QFileInfo(programmed.Path).fileName(), QStringLiteral("2026-12-07_21-03-55_COM1_sent.txt"));
    EXPECT_EQ(ReadBack(first.Path), read);
    EXPECT_EQ(ReadBack(second.Path), again);
    EXPECT_EQ(ReadBack(programmed.Path), sent);

    // Nothing else is left in the folder, no half-written file either.
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    EXPECT_EQ(names, (QStringList{"2026-12-07_21-03-55_COM1_read-2.txt", "2026-12-07_21-03-55_COM1_read-3.txt",
                                  "2026-12-07_21-03-55_COM1_read.txt", "2026-12-07_21-03-55_COM1_sent.txt"}));

    // A device path makes a file name; a copy without a time takes the present one.
    TParamFile device = Copy("read", "/dev/ttyUSB0");
    device.When.clear();
    const TCopySaved byDevice = SaveCopy(folder, device);
    ASSERT_TRUE(byDevice.Ok);
    const QString name = QFileInfo(byDevice.Path).fileName();
    EXPECT_TRUE(name.endsWith(QStringLiteral("_dev-ttyUSB0_read.txt"))) << name.toStdString();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d_")).match(name).hasMatch())
        << name.toStdString();
    EXPECT_FALSE(ReadBack(byDevice.Path).When.empty());
}

TEST(Copies, WhateverStandsAtTheNameSendsTheCopyOn)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString elsewhere = tmp.filePath(QStringLiteral("elsewhere.txt"));
    ASSERT_TRUE(QFile(elsewhere).open(QIODevice::WriteOnly));
    struct Row {
        const char* label;
        QString linkTo;
    };
    const Row rows[] = {
        {"a dangling link", tmp.filePath(QStringLiteral("gone.txt"))},
        {"a link to a file elsewhere", elsewhere},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const QString folder = tmp.filePath(QString::fromUtf8(row.label));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString taken = QDir(folder).filePath(QStringLiteral("2026-12-07_21-03-55_COM1_read.txt"));
        ASSERT_TRUE(QFile::link(row.linkTo, taken));
        const TCopySaved saved = SaveCopy(folder, Copy("read"));
        ASSERT_TRUE(saved.Ok) << saved.Reason.toStdString();
        EXPECT_EQ(QFileInfo(saved.Path).fileName(), QStringLiteral("2026-12-07_21-03-55_COM1_read-2.txt"));
        EXPECT_EQ(QFileInfo(row.linkTo).size(), 0) << "nothing written through the link";
    }
}

// A writer killed mid-copy (here by the file size limit) leaves no file under
// a copy's name; what it left goes at a later run's first copy once it is old.
TEST(Copies, ACopyCutShortNeverStandsUnderItsName)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString folder = tmp.filePath(QStringLiteral("copies"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit none{0, 0};
        const rlimit tiny{16, 16};
        ::setrlimit(RLIMIT_CORE, &none);
        ::setrlimit(RLIMIT_FSIZE, &tiny);
        SaveCopy(folder, Copy("read"));
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    const QStringList left = QDir(folder).entryList(all);
    ASSERT_EQ(left.size(), 1) << left.join(u' ').toStdString();
    EXPECT_TRUE(left[0].startsWith(u'.')) << left[0].toStdString();

    QFile cutShort(QDir(folder).filePath(left[0]));
    ASSERT_TRUE(cutShort.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        cutShort.setFileTime(QDateTime::currentDateTime().addSecs(-20 * 60), QFileDevice::FileModificationTime));
    cutShort.close();
    const QString atWork = QStringLiteral(".copy-atwork.tmp");
    ASSERT_TRUE(QFile(QDir(folder).filePath(atWork)).open(QIODevice::WriteOnly));
    ASSERT_TRUE(SaveCopy(folder, Copy("read")).Ok);
    EXPECT_EQ(QDir(folder).entryList(all, QDir::Name).join(u' ').toStdString(),
              atWork.toStdString() + " 2026-12-07_21-03-55_COM1_read.txt");
}

TEST(Copies, AFolderThatCannotBeMadeIsReportedWithItsPath)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    struct Row {
        const char* label;
        QString blocked;  // where a file stands
        QString folder;
    };
    const Row rows[] = {
        {"a file where the folder should be", tmp.filePath("copies"), tmp.filePath("copies")},
        {"a file where a parent folder should be", tmp.filePath("vostrel"), tmp.filePath("vostrel/copies")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        QFile blocker(row.blocked);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const TCopySaved saved = SaveCopy(row.folder, Copy("read"));
        EXPECT_FALSE(saved.Ok);
        EXPECT_TRUE(saved.Reason.contains(QStringLiteral("на месте папки стоит файл"))) << saved.Reason.toStdString();
        EXPECT_TRUE(saved.Reason.contains(QDir::toNativeSeparators(row.blocked))) << saved.Reason.toStdString();
        EXPECT_TRUE(saved.Reason.contains(QDir::toNativeSeparators(row.folder))) << saved.Reason.toStdString();
        EXPECT_EQ(QFileInfo(row.blocked).size(), 0);
    }
}

TEST(Copies, BothProgramsShareOneFolder)
{
    SetApplicationNames();
    EXPECT_TRUE(CopiesFolder().endsWith(QStringLiteral("/vostrel/copies"))) << CopiesFolder().toStdString();
    EXPECT_TRUE(CopiesFolder().startsWith(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)));
}

}  // namespace

}  // namespace vostrel
