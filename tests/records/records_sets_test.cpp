// Logger samples on SQLite and on a real PostgreSQL server: blocks with 2
// and 4 sample sets of one gas and unit over the same times keep every set,
// a repeated download adds nothing, a download's file comes back byte for
// byte, and samples kept by gas, unit and time before are moved in place to
// their blocks and sets with every chain still intact.
#include "PgCluster.h"
#include "QStringPrinting.h"

#include <DataLoggerExport.h>
#include <DownloadsOnRecord.h>
#include <RecordExport.h>
#include <RecordLoggerRows.h>
#include <RecordStore.h>

#include <QSqlError>
#include <QSqlQuery>

#include <gtest/gtest.h>

using namespace r310;
using namespace r310::records;

namespace {

// `count` blocks of `sets` sets, all of gas 1 in unit 1, each set's values its own.
std::vector<logs::LoggerBlock> OneGas(int count, int sets)
{
    std::vector<logs::LoggerBlock> blocks;
    for (int b = 0; b < count; ++b) {
        logs::LoggerBlock block;
        block.header = {logs::kValidState, 5000000 + b * 15 * 30, 30, 15, static_cast<std::uint8_t>(sets)};
        for (int k = 0; k < sets; ++k) {
            logs::LoggerSampleSet set{logs::kValidState, 1, 1, -1, static_cast<std::uint16_t>(1u << k), {}};
            for (int i = 0; i < logs::kSamplesPerSet; ++i)
                set.samples[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(1000 * k + 15 * b + i);
            block.sets.push_back(set);
        }
        blocks.push_back(block);
    }
    return blocks;
}

QStringList Lines(const std::vector<logs::LoggerBlock> &blocks)
{
    logs::LoggerExportData data;
    data.blocks = blocks;
    data.locale = QLocale(QLocale::German, QLocale::Germany);
    data.gasTexts = {{logs::GasTextKey(1, 1), QStringLiteral("ppm CO")}};
    return logs::LoggerExportLines(data);
}

bool Exec(QSqlDatabase db, const QString &sql)
{
    QSqlQuery query(db);
    const bool ok = query.exec(sql);
    EXPECT_TRUE(ok) << sql.toStdString() << ": " << query.lastError().text().toStdString();
    return ok;
}

} // namespace

class SampleSets : public recordstest::StoreTest {};

TEST_P(SampleSets, EverySetOfEveryBlockIsKeptOnceAndComesBackAsDownloaded)
{
    for (const int sets : {2, 4}) {
        const QString serial = QStringLiteral("0000700%1").arg(sets);
        std::vector<logs::LoggerBlock> filling = OneGas(40, sets);
        filling.back().header.reportedSamples = 7;
        const AppendResult first = store_->AppendLogger(serial, {}, filling);
        EXPECT_EQ(first.added, (39 * 15 + 7) * sets);
        const std::vector<logs::LoggerBlock> grown = OneGas(41, sets);
        const AppendResult second = store_->AppendLogger(serial, {}, grown);
        EXPECT_EQ(second.added, (8 + 15) * sets);
        const AppendResult repeated = store_->AppendLogger(serial, {}, grown);
        EXPECT_EQ(repeated.added, 0);
        for (const auto &[id, downloaded] : {std::pair(first.id, filling), std::pair(repeated.id, grown)}) {
            QString error;
            const std::optional<QStringList> lines =
                DownloadExportLines(*store_, *store_->Record(id), QLocale(QLocale::German, QLocale::Germany),
                                    [](std::uint8_t, std::uint8_t) { return QStringLiteral("ppm CO"); }, &error);
            ASSERT_TRUE(lines) << error.toStdString();
            EXPECT_EQ(*lines, Lines(downloaded)) << sets << " sets, record " << id;
        }
        const auto onRecord = LoggerBlocksOnRecord(*store_, serial);
        ASSERT_TRUE(onRecord);
        EXPECT_EQ(Lines(*onRecord), Lines(grown));
    }
    const VerifyResult verified = store_->Verify();
    EXPECT_TRUE(verified.ok) << verified.problem.toStdString();
    // A run moved to another set of its block is a changed record.
    QSqlDatabase db = store_->database();
    ASSERT_TRUE(Exec(db, QStringLiteral("UPDATE r310_sample SET set_no = 5 WHERE set_no = 4 AND first_index = 0 AND "
                                        "block_time = 5000000")));
    EXPECT_FALSE(store_->Verify().ok);
}

TEST_P(SampleSets, SamplesKeptByGasUnitAndTimeAreMovedToTheirBlocksAndSets)
{
    // Two sets of two gases: what the records kept of them before, whole.
    std::vector<logs::LoggerBlock> blocks = OneGas(12, 2);
    for (logs::LoggerBlock &block : blocks)
        block.sets[1].gasCode = 2;
    const AppendResult stored = store_->AppendLogger(QStringLiteral("00000042"), {}, blocks);
    ASSERT_TRUE(stored.ok) << stored.error.toStdString();
    const std::vector<logs::LoggerBlock> before = *store_->LoggerDownload(stored.id);
    // Back to the samples of version 5, keyed by gas, unit and time; then the
    // step to version 6 alone.
    QSqlDatabase db = store_->database();
    ASSERT_TRUE(Exec(db, QStringLiteral("CREATE TABLE r310_sample_v5 AS SELECT instrument_id, gas, unit, time, "
                                        "step, count, exponent, alarm, raws, added_seq FROM r310_sample")));
    ASSERT_TRUE(Exec(db, QStringLiteral("DROP TABLE r310_sample")));
    ASSERT_TRUE(Exec(db, QStringLiteral("ALTER TABLE r310_sample_v5 RENAME TO r310_sample")));
    QString error;
    ASSERT_TRUE(detail::KeySamplesBySet(db, GetParam() == std::string("postgresql"), &error)) << error.toStdString();
    const VerifyResult verified = store_->Verify();
    EXPECT_TRUE(verified.ok) << verified.problem.toStdString();
    const std::optional<std::vector<logs::LoggerBlock>> after = store_->LoggerDownload(stored.id, &error);
    ASSERT_TRUE(after) << error.toStdString();
    EXPECT_EQ(Lines(*after), Lines(before));
    EXPECT_EQ(store_->AppendLogger(QStringLiteral("00000042"), {}, blocks).added, 0);
}

INSTANTIATE_TEST_SUITE_P(Databases, SampleSets, ::testing::Values("sqlite", "postgresql"),
                         [](const auto &info) { return std::string(info.param); });
