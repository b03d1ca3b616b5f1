// The cylinder register on SQLite and on a real PostgreSQL server, the
// refusals of unusable cylinders, what falls due around today, and a
// certificate's facts taken from the right records of the chain.
#include "PgCluster.h"
#include "QStringPrinting.h"
#include "TestApplication.h"

#include <Certificate.h>
#include <Cylinders.h>
#include <FleetReport.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace r310::records;

namespace {

const QDate kToday(2026, 12, 9);

Cylinder Co(const QString &lot, const QDate &expires)
{
    Cylinder c;
    c.lot = lot;
    c.gasCode = 1;
    c.unitCode = 0;
    c.gas = QStringLiteral("CO");
    c.unit = QStringLiteral("ppm");
    c.concentration = 50;
    c.expires = expires;
    c.balance = QStringLiteral("air");
    return c;
}

} // namespace

class CertsStoreTest : public recordstest::StoreTest {};

TEST_P(CertsStoreTest, TheRegisterKeepsEachLotOnceAndOffersOnlyUsableCylinders)
{
    CylinderRegister cylinders(*store_);
    QString error;
    Cylinder h2s = Co(QStringLiteral("B-2"), kToday.addDays(30));
    h2s.gasCode = 2;
    h2s.gas = QStringLiteral("H2S");
    h2s.concentration = 12.5;
    for (const Cylinder &c : {Co(QStringLiteral("A-1"), kToday), Co(QStringLiteral("A-2"), kToday.addDays(-1)),
                              Co(QStringLiteral("A-3"), kToday.addDays(90)), h2s})
        ASSERT_TRUE(cylinders.Add(c, &error)) << error.toStdString();
    EXPECT_FALSE(cylinders.Add(Co(QStringLiteral("A-1"), kToday), &error));
    EXPECT_TRUE(error.contains(QLatin1String("already"))) << error.toStdString();
    ASSERT_TRUE(cylinders.Retire(QStringLiteral("A-3"), &error)) << error.toStdString();
    EXPECT_FALSE(cylinders.Retire(QStringLiteral("Z-9"), &error));

    const std::vector<Cylinder> list = cylinders.List();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[3].lot, QStringLiteral("B-2"));
    EXPECT_EQ(list[3].concentration, 12.5);
    EXPECT_EQ(list[3].expires, kToday.addDays(30));
    EXPECT_TRUE(list[2].retired);
    // Expiring today is still in date; the day before is not.
    const std::vector<Cylinder> usable = cylinders.Usable(1, 0, kToday);
    ASSERT_EQ(usable.size(), 1u);
    EXPECT_EQ(usable[0].lot, QStringLiteral("A-1"));
    EXPECT_TRUE(cylinders.Usable(2, 1, kToday).empty()); // H2S, but in another unit
    EXPECT_EQ(cylinders.Usable(2, 0, kToday).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Databases, CertsStoreTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto &info) { return std::string(info.param); });

TEST(CertsTest, GasAndUnitAreNamedByTextOrCodeAndUnusableCylindersAreRefused)
{
    const auto names = [](std::uint8_t code) {
        return code == 1 ? QStringLiteral("CO") : code == 2 ? QStringLiteral("H2S ") : QString();
    };
    EXPECT_EQ(CodeNamed(QStringLiteral("co"), names), std::optional<std::uint8_t>(1));
    EXPECT_EQ(CodeNamed(QStringLiteral("H2S"), names), std::optional<std::uint8_t>(2));
    EXPECT_EQ(CodeNamed(QStringLiteral("7"), names), std::optional<std::uint8_t>(7));
    EXPECT_FALSE(CodeNamed(QStringLiteral("NH3"), names));
    EXPECT_FALSE(CodeNamed(QStringLiteral("256"), names));

    Cylinder retired = Co(QStringLiteral("R"), kToday);
    retired.retired = true;
    const struct {
        std::optional<Cylinder> cylinder;
        std::uint8_t gas;
        std::uint8_t unit;
        const char *refusal; // empty: usable
    } cases[] = {{Co(QStringLiteral("C"), kToday), 1, 0, ""},
                 {std::nullopt, 1, 0, "not in the register"},
                 {retired, 1, 0, "retired"},
                 {Co(QStringLiteral("C"), kToday.addDays(-1)), 1, 0, "expired on 2026-12-08"},
                 {Co(QStringLiteral("C"), kToday), 2, 0, "not the instrument's gas and unit"},
                 {Co(QStringLiteral("C"), kToday), 1, 1, "not the instrument's gas and unit"}};
    for (const auto &c : cases) {
        const QString refusal = CylinderRefusal(c.cylinder, QStringLiteral("C"), c.gas, c.unit, kToday);
        EXPECT_EQ(refusal.isEmpty(), *c.refusal == 0) << refusal.toStdString();
        EXPECT_TRUE(refusal.contains(QLatin1String(c.refusal))) << refusal.toStdString();
    }
}

TEST(CertsTest, WhatFallsDueCountsTheDaysFromToday)
{
    InstrumentRow late;
    late.serial = QStringLiteral("2");
    late.nextCalibration = kToday.addDays(-4).toString(Qt::ISODate);
    late.nextBumpTest = kToday.toString(Qt::ISODate);
    InstrumentRow ahead;
    ahead.serial = QStringLiteral("1");
    ahead.nextCalibration = kToday.addDays(30).toString(Qt::ISODate);
    ahead.nextBumpTest = QString(); // never read
    const std::vector<InstrumentRow> rows{ahead, late};
    const std::vector<DueItem> today = DueItems(rows, kToday, 0);
    ASSERT_EQ(today.size(), 2u);
    EXPECT_EQ(today[0].what, QStringLiteral("calibration"));
    EXPECT_EQ(today[0].daysOverdue, 4);
    EXPECT_EQ(today[1].what, QStringLiteral("bump test"));
    EXPECT_EQ(today[1].daysOverdue, 0);
    EXPECT_EQ(DueItems(rows, kToday, 29).size(), 2u);
    const std::vector<DueItem> month = DueItems(rows, kToday, 30);
    ASSERT_EQ(month.size(), 3u);
    EXPECT_EQ(month[2].serial, QStringLiteral("1"));
    EXPECT_EQ(month[2].daysOverdue, -30);
}

TEST(CertsTest, ACertificateTakesTheSettingsOfItsSessionAndKeepsItsNumber)
{
    r310test::EnsureApplication();
    QTemporaryDir dir;
    QString error;
    auto store = RecordStore::Open(ParseRecordsUrl(dir.filePath(QStringLiteral("r.sqlite"))).target, &error);
    ASSERT_TRUE(store) << error.toStdString();
    const QString serial = QStringLiteral("00000042");
    const auto settings = [](const char *nextCalibration, const char *a1) {
        return QJsonObject{{QStringLiteral("gasUnit"), QStringLiteral("ppm CO")},
                           {QStringLiteral("rangeEnd"), 500},
                           {QStringLiteral("nextCalibration"), QLatin1String(nextCalibration)},
                           {QStringLiteral("nextBumpTest"), QStringLiteral("2027-01-01")},
                           {QStringLiteral("settings"), QJsonObject{{QStringLiteral("a1"), QLatin1String(a1)}}}};
    };
    const QJsonObject span{{QStringLiteral("calibration"), QStringLiteral("span")},
                           {QStringLiteral("concentration"), 50},
                           {QStringLiteral("asFound"), 46.5},
                           {QStringLiteral("outcome"), QStringLiteral("Error")},
                           {QStringLiteral("testGas"), kTestGasNotRecorded}};
    store->Append(serial, kind::kConnection, {{QStringLiteral("customerId"), QStringLiteral("K1")}});
    store->Append(serial, kind::kSettings, settings("2026-12-01", "20"));
    const qint64 first = store->Append(serial, kind::kCalibration, span).id;
    store->Append(serial, kind::kSettings, settings("2027-06-01", "25")); // read after it in the same session
    store->Append(serial, kind::kConnection, {{QStringLiteral("customerId"), QStringLiteral("K2")}});
    store->Append(serial, kind::kSettings, settings("2028-01-01", "30")); // a later session
    const QJsonObject zero{{QStringLiteral("calibration"), "zero"}, {QStringLiteral("outcome"), "OK"}};
    const qint64 second = store->Append(serial, kind::kCalibration, zero).id;

    const auto certificate = CertificateFor(*store, serial, first, QStringLiteral("T"), &error);
    ASSERT_TRUE(certificate) << error.toStdString();
    EXPECT_EQ(certificate->alarmLimits[0], std::make_pair(QStringLiteral("A1"), QStringLiteral("25 ppm")));
    const std::pair<QString, const char *> facts[] = {
        {certificate->customerId, "K1"},          {certificate->nextCalibration, "2027-06-01"},
        {certificate->alarmLimits[1].second, "not read"}, {certificate->range, "0 to 500 ppm CO"},
        {certificate->outcome, "failed"},         {certificate->asFound, "46.5 ppm"},
        {certificate->asLeft, "not recorded"}};
    for (const auto &[fact, text] : facts)
        EXPECT_EQ(fact, QLatin1String(text)) << text;
    EXPECT_FALSE(certificate->testGasRecorded);

    const auto latest = CertificateFor(*store, serial, std::nullopt, QStringLiteral("T"), &error);
    ASSERT_TRUE(latest);
    EXPECT_EQ(latest->recordId, second);
    EXPECT_EQ(latest->customerId, QStringLiteral("K2"));
    EXPECT_EQ(latest->nextCalibration, QStringLiteral("2028-01-01"));
    EXPECT_EQ(latest->outcome, QStringLiteral("passed"));
    EXPECT_NE(latest->number, certificate->number);
    EXPECT_EQ(CertificateFor(*store, serial, first, QString(), &error)->number, certificate->number);
    EXPECT_FALSE(CertificateFor(*store, serial, second + 1, QString(), &error));
    EXPECT_FALSE(CertificateFor(*store, QStringLiteral("00000043"), std::nullopt, QString(), &error));
    EXPECT_TRUE(error.contains(QLatin1String("not on record"))) << error.toStdString();
}
