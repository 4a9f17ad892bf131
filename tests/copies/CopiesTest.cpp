// Copies in a folder of the test's own: what is written reads back, names
// sort and never collide, and a folder that cannot be made is reported.
#include "Copies.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
