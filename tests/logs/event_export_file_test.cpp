// The export writer shared by the event log and the data logger: the bytes of
// the file and what a failure or a cancel leaves on disk.
#include "ExportFile.h"
#include "TestApplication.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using r310::logs::EncodeExportLine;
using r310::logs::EncodeExportLines;
using r310::logs::ExportFile;
using r310::logs::WriteExportFile;
using r310test::ReadAll;
using r310test::Entries;
using r310test::WriteFile;

TEST(ExportEncoding, EveryLineEndsInCrLfWithoutByteOrderMark)
{
    EXPECT_EQ(EncodeExportLines({QStringLiteral("No;Date"), QStringLiteral("0;x;")}),
              QByteArray("No;Date\r\n0;x;\r\n"));
    EXPECT_EQ(EncodeExportLines({QStringLiteral("only")}), QByteArray("only\r\n"));
    EXPECT_EQ(EncodeExportLines({}), QByteArray());
    EXPECT_EQ(EncodeExportLines({QString()}), QByteArray("\r\n"));
}

TEST(ExportEncoding, EightBitCharactersStayOneByteOthersBecomeOneQuestionMark)
{
    // Latin-1 letters are single bytes, never UTF-8 sequences.
    EXPECT_EQ(EncodeExportLine(QStringLiteral("%LEL \u00b5g/m\u00b3 Methan \u00e4\u00f6\u00fc\u00df")),
              QByteArray("%LEL \xb5g/m\xb3 Methan \xe4\xf6\xfc\xdf"));
    // A character outside the set keeps its place: the fields keep their count.
    EXPECT_EQ(EncodeExportLine(QStringLiteral("a;\u20ac;\u4e2d\u6587;b")), QByteArray("a;?;??;b"));
    // A character outside the basic plane is one character, so one "?".
    EXPECT_EQ(EncodeExportLine(QString::fromUtf8("x\xF0\x9F\x98\x80y")), QByteArray("x?y"));
    // A broken surrogate is replaced too.
    EXPECT_EQ(EncodeExportLine(QString(QChar(0xD800)) + QStringLiteral("z")), QByteArray("?z"));
}

TEST(ExportEncoding, BlanksOfOtherWidthsStayBlanks)
{
    // The narrow blank before AM/PM of some regional time formats.
    EXPECT_EQ(EncodeExportLine(QStringLiteral("1:45:10\u202fPM;\u2003x")), QByteArray("1:45:10 PM; x"));
    // The no-break blank is a Latin-1 character of its own.
    EXPECT_EQ(EncodeExportLine(QStringLiteral("a\u00a0b")), QByteArray("a\xa0" "b"));
}

TEST(ExportEncoding, AccentTypedApartBecomesItsComposedLetter)
{
    EXPECT_EQ(EncodeExportLine(QStringLiteral("Re\u0301sume\u0301")), QByteArray("R\xe9sum\xe9"));
}

TEST(ExportEncoding, LineBreakInsideALineIsReplaced)
{
    EXPECT_EQ(EncodeExportLines({QStringLiteral("a\r\nb;c\nd")}), QByteArray("a??b;c?d\r\n"));
}

TEST(ExportFileWriting, WritesTheEncodedLinesAndReplacesAnOldFile)
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("Evt.csv"));
    ASSERT_TRUE(WriteFile(path, "an older and much longer file than the new one\r\n"));
    const QStringList lines{QStringLiteral("H;\u00e4"), QStringLiteral("1;\u20ac;")};
    const auto result = WriteExportFile(path, lines);
    EXPECT_TRUE(result.ok) << result.detail.toStdString();
    EXPECT_TRUE(result.message.isEmpty());
    EXPECT_EQ(ReadAll(path), QByteArray("H;\xe4\r\n1;?;\r\n"));
    EXPECT_EQ(Entries(directory.path()), QStringList{QStringLiteral("Evt.csv")});
}

TEST(ExportFileWriting, FileThatCannotBeCreatedIsReportedWithItsName)
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("missing/Evt.csv"));
    const auto result = WriteExportFile(path, {QStringLiteral("x")});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, QStringLiteral("Cannot create file ") + QDir::toNativeSeparators(path));
    EXPECT_FALSE(result.detail.isEmpty());
    EXPECT_TRUE(Entries(directory.path()).isEmpty());

    // A directory in the file's place cannot be replaced either.
    const QString taken = directory.filePath(QStringLiteral("taken.csv"));
    ASSERT_TRUE(QDir().mkdir(taken));
    const auto second = WriteExportFile(taken, {QStringLiteral("x")});
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(second.message, QStringLiteral("Cannot create file ") + QDir::toNativeSeparators(taken));
    EXPECT_EQ(Entries(directory.path()), QStringList{QStringLiteral("taken.csv")});
}

TEST(ExportFileWriting, NothingIsVisibleBeforeCommitAndACancelLeavesTheOldFile)
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("Evt.csv"));
    ASSERT_TRUE(WriteFile(path, "old\r\n"));
    {
        ExportFile file(path);
        ASSERT_TRUE(file.begin().ok);
        EXPECT_TRUE(file.append(QStringLiteral("new line 1")));
        EXPECT_EQ(ReadAll(path), QByteArray("old\r\n"));
        file.cancel();
        EXPECT_FALSE(file.append(QStringLiteral("after the cancel")));
    }
    EXPECT_EQ(ReadAll(path), QByteArray("old\r\n"));
    EXPECT_EQ(Entries(directory.path()), QStringList{QStringLiteral("Evt.csv")});

    {
        // Going out of scope without commit is a cancel too.
        ExportFile file(path);
        ASSERT_TRUE(file.begin().ok);
        file.append(QStringLiteral("abandoned"));
    }
    EXPECT_EQ(ReadAll(path), QByteArray("old\r\n"));
    EXPECT_EQ(Entries(directory.path()), QStringList{QStringLiteral("Evt.csv")});

    ExportFile file(path);
    ASSERT_TRUE(file.begin().ok);
    EXPECT_TRUE(file.append(QStringLiteral("new")));
    EXPECT_TRUE(file.commit().ok);
    EXPECT_EQ(ReadAll(path), QByteArray("new\r\n"));
    EXPECT_FALSE(file.commit().ok) << "a second commit has nothing to write";
}

} // namespace
