// The parts of r310web whose rules take hours or thousands of rows to meet
// through the program: a session's idle end, the wait after wrong
// passwords, and the fleet's paging, sorting and filter.
#include <FleetPage.h>
#include <Sessions.h>

#include <gtest/gtest.h>

namespace {

using namespace r310::web;
using std::chrono::hours;
using std::chrono::minutes;
using std::chrono::seconds;

TEST(WebParts, ASessionEndsAfterEightHoursWithoutARequestAndAnAddressWaitsLongerAfterEachWrongPassword)
{
    Sessions sessions;
    const Clock::time_point start = Clock::now();
    const QString token = sessions.Start(QStringLiteral("anna"), start);
    EXPECT_EQ(token.size(), 64);
    // Each request counts as use: a working day of requests keeps it.
    EXPECT_EQ(sessions.User(token, start + hours(7)), QStringLiteral("anna"));
    EXPECT_EQ(sessions.User(token, start + hours(14)), QStringLiteral("anna"));
    EXPECT_FALSE(sessions.User(token, start + hours(22) + minutes(1)));
    EXPECT_FALSE(sessions.User(token, start + hours(14))) << "an ended session stays ended";

    LoginThrottle throttle;
    const QString address = QStringLiteral("192.0.2.7");
    const qint64 waits[] = {0, 0, 0, 0, 2, 4, 8, 16};
    for (const qint64 wait : waits) {
        EXPECT_EQ(throttle.Wait(address, start), wait);
        throttle.Failed(address, start);
    }
    EXPECT_EQ(throttle.Wait(QStringLiteral("192.0.2.8"), start), 0) << "per address";
    for (int n = 0; n < 20; ++n)
        throttle.Failed(address, start);
    EXPECT_EQ(throttle.Wait(address, start), LoginThrottle::kLongest.count());
    EXPECT_EQ(throttle.Wait(address, start + LoginThrottle::kLongest), 0);
    throttle.Succeeded(address);
    EXPECT_EQ(throttle.Wait(address, start), 0);
}

TEST(WebParts, TheFleetIsFilteredSortedAndShownAHundredRowsAPage)
{
    std::vector<r310::records::FleetRow> rows(250);
    for (int n = 0; n < 250; ++n) {
        rows[static_cast<std::size_t>(n)].instrument.serial = QStringLiteral("%1").arg(n, 8, 10, QLatin1Char('0'));
        rows[static_cast<std::size_t>(n)].instrument.customerId =
            n % 50 == 0 ? QStringLiteral("Halle %1").arg(n) : QString();
        rows[static_cast<std::size_t>(n)].instrument.nextCalibration =
            QDate(2027, 1, 1).addDays(-n).toString(Qt::ISODate);
    }
    const FleetSnapshot fleet(rows, QDate(2026, 12, 10), QDateTime::currentDateTimeUtc());
    struct Case {
        FleetQuery query;
        int matching, pages, page, shown;
        const char *first;
    };
    const Case cases[] = {
        {{}, 250, 3, 1, 100, "00000000"},
        {{QString(), FleetColumn::Serial, true, 1}, 250, 3, 1, 100, "00000249"},
        {{QString(), FleetColumn::Serial, false, 3}, 250, 3, 3, 50, "00000200"},
        {{QString(), FleetColumn::Serial, false, 9}, 250, 3, 3, 50, "00000200"},
        {{QString(), FleetColumn::NextCalibration, false, 1}, 250, 3, 1, 100, "00000249"},
        {{QStringLiteral("HALLE"), FleetColumn::Customer, true, 1}, 5, 1, 1, 5, "00000050"},
        {{QStringLiteral("nothing"), FleetColumn::Serial, false, 1}, 0, 1, 1, 0, ""},
    };
    for (const Case &c : cases) {
        const FleetSelection s = SelectFleet(fleet, c.query);
        EXPECT_EQ(s.matching, c.matching) << c.first;
        EXPECT_EQ(s.pages, c.pages) << c.first;
        EXPECT_EQ(s.page, c.page) << c.first;
        ASSERT_EQ(static_cast<int>(s.rows.size()), c.shown) << c.first;
        if (c.shown > 0)
            EXPECT_EQ(s.rows.front()->instrument.serial, QLatin1String(c.first));
    }
    const QDate today(2026, 12, 10);
    EXPECT_EQ(DueStateOf(QStringLiteral("2026-12-09"), today, 30), DueState::Overdue);
    EXPECT_EQ(DueStateOf(QStringLiteral("2026-12-10"), today, 30), DueState::Soon);
    EXPECT_EQ(DueStateOf(QStringLiteral("2027-01-09"), today, 30), DueState::Soon);
    EXPECT_EQ(DueStateOf(QStringLiteral("2027-01-10"), today, 30), DueState::None);
    EXPECT_EQ(DueStateOf(QString(), today, 30), DueState::None);
}

} // namespace
