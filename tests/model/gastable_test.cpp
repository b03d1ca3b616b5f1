// The binding to the gas table library: loading order, texts, and the
// message when the library is missing.
#include "DecodeAnswer.h"
#include "FixtureFrames.h"
#include "GasTable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace r310;

namespace {

const QString kBuildDir = QStringLiteral(KALTEX32_DIR);

TEST(GasTable, LoadsFromTheFirstDirectoryThatHasIt)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    QString error;
    const auto table = GasTable::Load({empty.path(), kBuildDir}, &error);
    ASSERT_TRUE(table) << qPrintable(error);
    EXPECT_EQ(QFileInfo(table->fileName()).absolutePath(), QDir(kBuildDir).absolutePath());
    EXPECT_EQ(table->GasNameText(1), "CO");
    EXPECT_EQ(table->GasUnitText(0), "ppm");
    EXPECT_EQ(table->GasTexts(3, 0), "%LEL EX");
    EXPECT_EQ(table->GasTexts(250, 1), "Unit #250 CO");
}

TEST(GasTable, GasTextOfTheRangeObjectComesFromTheTable)
{
    const auto table = GasTable::Load({kBuildDir});
    ASSERT_TRUE(table);
    DecodeEnvironment env;
    env.gasTexts = [&](std::uint8_t unit, std::uint8_t gas) { return table->GasTexts(unit, gas); };
    InstrumentRecord record;
    ReceiveBuffer buffer = fixtures::Received(fixtures::kRange);
    EXPECT_EQ(AnswerDecoder(env).DecodeAnswer(buffer, record).range->gasText, "ppm CO");
}

TEST(GasTable, MissingLibraryNamesItAndWhereItLooked)
{
    QTemporaryDir first;
    QTemporaryDir second;
    QString error;
    const auto table = GasTable::Load({first.path(), second.path()}, &error);
    if (table)
        GTEST_SKIP() << "the system's library path holds the gas table library";
    EXPECT_TRUE(error.contains("KALTEX32")) << qPrintable(error);
    EXPECT_TRUE(error.contains(GasTable::LibraryFileName())) << qPrintable(error);
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(first.path()))) << qPrintable(error);
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(second.path()))) << qPrintable(error);
    EXPECT_TRUE(error.contains("system's library path")) << qPrintable(error);
    EXPECT_TRUE(error.indexOf(first.path()) < error.indexOf(second.path())); // in search order
}

TEST(GasTable, BrokenLibraryFileIsReportedWithItsReason)
{
    QTemporaryDir dir;
    QFile junk(QDir(dir.path()).filePath(GasTable::LibraryFileName()));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a library");
    junk.close();
    QString error;
    if (GasTable::Load({dir.path()}, &error))
        GTEST_SKIP() << "the system's library path holds the gas table library";
    EXPECT_TRUE(error.contains("not usable")) << qPrintable(error);
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(junk.fileName()))) << qPrintable(error);
}

} // namespace
