// The in-process link: what the serial port service sees of the simulated
// instrument through the transport seam.
#include "SimBackend.h"
#include "TestApplication.h"

#include <R310_typ.h>

#include <gtest/gtest.h>

using namespace r310::sim;
using namespace std::chrono_literals;
using r310test::EnsureApplication;
using r310test::SpinFor;
using r310test::SpinUntil;

namespace {

const QByteArray kConnect = QByteArray::fromHex("56594B34016000A59F");
const QByteArray kReadIdentity = QByteArray::fromHex("56594B34020000F7E5");

Scenario Unpaced()
{
    Scenario s;
    s.pacing = false;
    return s;
}

} // namespace

TEST(SimBackend, AnswersArriveWithReadyReadAndWritesAreReported)
{
    EnsureApplication();
    SimBackend link(Unpaced());
    int readyReads = 0;
    qint64 written = 0;
    QObject::connect(&link, &r310::SerialBackend::readyRead, [&] { ++readyReads; });
    QObject::connect(&link, &r310::SerialBackend::bytesWritten, [&](qint64 n) { written += n; });

    EXPECT_FALSE(link.write(kConnect)) << "closed";
    EXPECT_FALSE(link.errorString().isEmpty());
    ASSERT_TRUE(link.open());
    ASSERT_TRUE(link.write(kReadIdentity));
    EXPECT_EQ(link.bytesAvailable(), 0) << "delivered from the event loop, not inside write";
    ASSERT_TRUE(SpinUntil([&] { return link.bytesAvailable() >= 30 && written == 9; }, 2s));
    EXPECT_GE(readyReads, 1);

    const QByteArray answer = link.readAll();
    EXPECT_EQ(link.bytesAvailable(), 0);
    r310::ReceiveBuffer buffer;
    std::int32_t status = 0;
    for (char c : answer)
        status = r310::AssembleByte(static_cast<std::uint8_t>(c), buffer);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(r310::FrameFromBuffer(buffer).object, 2);
}

TEST(SimBackend, PacedBytesBecomeReadableAsTheLineDeliversThem)
{
    EnsureApplication();
    auto clock = std::make_shared<ManualClock>();
    Scenario s;
    s.turnaroundMillis = 5;
    SimBackend link(s, clock);
    ASSERT_TRUE(link.open());
    ASSERT_TRUE(link.write(kReadIdentity));
    EXPECT_EQ(link.bytesToWrite(), 9);
    clock->advanceMicros(LineMicros(5));
    EXPECT_EQ(link.bytesToWrite(), 4);

    SpinFor(30ms);
    EXPECT_EQ(link.bytesAvailable(), 0) << "nothing before the line time has passed";

    // Request on the wire, turnaround, then ten answer bytes.
    clock->advanceMicros(LineMicros(9) - LineMicros(5) + 5000 + LineMicros(10));
    ASSERT_TRUE(SpinUntil([&] { return link.bytesAvailable() >= 10; }, 2s));
    SpinFor(20ms);
    EXPECT_EQ(link.bytesAvailable(), 10);

    clock->advanceMillis(50);
    ASSERT_TRUE(SpinUntil([&] { return link.bytesAvailable() == 30; }, 2s));
    EXPECT_EQ(link.pendingEmissions(), 0);
}

TEST(SimBackend, CloseDropsAnswersOnTheirWay)
{
    EnsureApplication();
    auto clock = std::make_shared<ManualClock>();
    SimBackend link(Scenario(), clock);
    ASSERT_TRUE(link.open());
    link.write(kConnect);
    EXPECT_GT(link.pendingEmissions(), 0);
    link.close();
    EXPECT_EQ(link.pendingEmissions(), 0);
    ASSERT_TRUE(link.open());
    clock->advanceSeconds(1);
    SpinFor(20ms);
    EXPECT_EQ(link.bytesAvailable(), 0);
}

TEST(SimBackend, UnpluggingFailsTheLinkUntilPluggedIn)
{
    EnsureApplication();
    SimBackend link(Unpaced());
    QStringList failures;
    QObject::connect(&link, &r310::SerialBackend::failed, [&](const QString &m) { failures << m; });
    ASSERT_TRUE(link.open());
    link.unplug();
    EXPECT_EQ(failures.size(), 1);
    EXPECT_FALSE(link.isOpen());
    EXPECT_FALSE(link.open());
    link.plugIn();
    EXPECT_TRUE(link.open());
}

TEST(SimBackend, TheDeviceBehindTheLinkCanBeAlteredAndFaulted)
{
    EnsureApplication();
    SimBackend link(Unpaced());
    ASSERT_TRUE(link.open());
    link.device().state().identity.serialNumber = 4242;
    FaultPlan plan;
    plan.noAnswer.next = 1;
    link.device().setFaults(plan);

    link.write(kReadIdentity);
    SpinFor(20ms);
    EXPECT_EQ(link.bytesAvailable(), 0);
    link.write(kReadIdentity);
    ASSERT_TRUE(SpinUntil([&] { return link.bytesAvailable() >= 30; }, 2s));
    const QByteArray answer = link.readAll();
    EXPECT_EQ(static_cast<std::uint8_t>(answer[7]) | (static_cast<std::uint8_t>(answer[8]) << 8), 4242);
}
