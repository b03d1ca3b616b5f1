// r310ctl calibrate, horn-check, function and factory-setup in-process on the
// simulated instrument: what each sends (payloads as the instrument heard
// them), the calibration followed to "OK" and "Error" with its exit codes,
// Ctrl+C leaving the calibration running, and the refusals that send nothing.
#include "CtlBench.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

using namespace r310;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

using clitest::LineFrame;
using clitest::Names;
using clitest::ExpectContains;

sim::Scenario Instrument()
{
    sim::Scenario scenario;
    scenario.pacing = false;
    scenario.softwareVersion = 221;
    scenario.calibrationReads = 3;
    return scenario;
}

class Ctl : public ::testing::Test {
protected:
    int run(QStringList arguments, const sim::Scenario &scenario = Instrument(), bool handleSignals = false)
    {
        bench.scenario = scenario;
        bench.handleSignals = handleSignals;
        const clitest::CtlResult result = bench.Run(std::move(arguments));
        output = result.out;
        errors = result.err;
        return result.code;
    }
    int run(const char *words, const sim::Scenario &scenario = Instrument(), bool handleSignals = false)
    {
        return run(clitest::Words(words), scenario, handleSignals);
    }
    QStringList errLines() const { return bench.errLines(); }

    clitest::CtlBench bench;
    QString output;
    QString errors;
};

// ---- calibrate -----------------------------------------------------------------

TEST_F(Ctl, CalibrateSpanIsScaledAndFollowedToOk)
{
    sim::Scenario scenario = Instrument();
    scenario.exponent = -1;
    const int code = run("calibrate span 50", scenario);
    ASSERT_EQ(code, cli::kExitOk) << errors.toStdString();
    const std::vector<LineFrame> heard = bench.line();
    const std::vector<std::string> names = bench.requests();
    const auto start = std::find(names.begin(), names.end(), "W9");
    ASSERT_NE(start, names.end());
    // The exponent is read before the start (the connect sequence did not
    // read it), then the identity, right before the write.
    ASSERT_GE(start - names.begin(), 2);
    EXPECT_EQ(*(start - 2), "R4");
    EXPECT_EQ(*(start - 1), "R2");
    EXPECT_EQ(heard[static_cast<std::size_t>(start - names.begin())].payload, (Bytes{0xF4, 0x01}));
    // Followed to its end, then three readings as left and the due dates for the service records.
    EXPECT_EQ(std::vector<std::string>(start + 1, names.end()),
              (std::vector<std::string>{"R10", "R10", "R10", "R10", "R7", "R7", "R7", "R31"}));
    EXPECT_EQ(errLines(), (QStringList{"calibration state: Running", "calibration state: Running",
                                       "calibration state: Running", "calibration state: OK"}));
    EXPECT_TRUE(output.contains(QStringLiteral("raw 500 at decimal exponent -1"))) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("Result: OK\n"))) << output.toStdString();
    EXPECT_TRUE(output.endsWith(QStringLiteral("Calibration passed: span\n"))) << output.toStdString();
}

TEST_F(Ctl, CalibrateZeroThatFailsExitsWithEight)
{
    sim::Scenario scenario = Instrument();
    scenario.calibrationFails = true;
    EXPECT_EQ(run("calibrate zero", scenario), cli::kExitCalibrationFailed);
    const std::vector<LineFrame> starts = bench.named("W9");
    ASSERT_EQ(starts.size(), 1U);
    EXPECT_EQ(starts[0].payload, (Bytes{0x00, 0x00}));
    EXPECT_TRUE(output.contains(QStringLiteral("Result: Error\n")));
    EXPECT_EQ(errLines().last(), QStringLiteral("r310ctl: Calibration failed: zero (the instrument reported Error)"));
}

TEST_F(Ctl, CalibrateRefusesConcentrationsThatDoNotFitWithNothingStarted)
{
    sim::Scenario scenario = Instrument();
    scenario.exponent = -1;
    // Not a number: refused before connecting.
    EXPECT_EQ(run("calibrate span 5,0", scenario), cli::kExitUsage);
    EXPECT_TRUE(bench.line().empty());
    EXPECT_TRUE(errors.contains(QStringLiteral("'5,0' is not a valid floating point value")));
    for (const char *bad : {"0", "0.04", "-5", "4000"}) {
        EXPECT_EQ(run({"calibrate", "span", bad}, scenario), cli::kExitUsage) << bad;
        EXPECT_EQ(errLines().size(), 1) << errors.toStdString();
    }
    EXPECT_TRUE(bench.named("W9").empty());
    EXPECT_EQ(run("calibrate span 0", scenario), cli::kExitUsage);
    EXPECT_EQ(errors, QStringLiteral("r310ctl: Kein Cal Gas\n"));
    EXPECT_EQ(run("calibrate", scenario), cli::kExitUsage);
    EXPECT_EQ(run("calibrate span", scenario), cli::kExitUsage);
    EXPECT_EQ(run("calibrate zero 1", scenario), cli::kExitUsage);
    EXPECT_TRUE(bench.named("W9").empty());
}

TEST_F(Ctl, CalibrateExitsWithThreeWhenTheInstrumentStopsAnswering)
{
    sim::Scenario scenario = Instrument();
    scenario.faults.noAnswer.probability = 1.0;
    scenario.faults.objects = {kObjectCalibrationState};
    EXPECT_EQ(run("calibrate zero", scenario), cli::kExitNoInstrument);
    EXPECT_EQ(bench.named("W9").size(), 1U);
    EXPECT_EQ(bench.named("R10").size(), 5U);
    EXPECT_TRUE(errors.contains(QStringLiteral("stopped answering during the calibration"))) << errors.toStdString();
}

TEST_F(Ctl, CtrlCLeavesTheCalibrationRunningInTheInstrument)
{
    sim::Scenario scenario = Instrument();
    scenario.calibrationReads = 1000000;
    // Ctrl+C once a few states were read.
    QTimer script;
    bool raised = false;
    script.callOnTimeout([&] {
        if (!raised && bench.named("R10").size() >= 3) {
            raised = true;
            std::raise(SIGINT);
        }
    });
    script.start(5);
    const int code = run("calibrate zero", scenario, true);
    script.stop();
    ASSERT_TRUE(raised);
    EXPECT_EQ(code, cli::kExitInterrupted);
    ExpectContains(errLines().last(), {"the calibration was left running in the instrument"});
    // The port is closed: nothing more goes out.
    const std::size_t heard = bench.line().size();
    r310test::SpinFor(150ms);
    EXPECT_EQ(bench.line().size(), heard);
}

// ---- horn-check ----------------------------------------------------------------

TEST_F(Ctl, HornCheckSendsOnThenOffEvenWhenTheFirstIsUnanswered)
{
    EXPECT_EQ(run("horn-check"), cli::kExitOk) << errors.toStdString();
    std::vector<LineFrame> horn = bench.named("W8");
    ASSERT_EQ(horn.size(), 2U);
    EXPECT_EQ(horn[0].payload, Bytes{1});
    EXPECT_EQ(horn[1].payload, Bytes{0});

    sim::Scenario deaf = Instrument();
    deaf.faults.noAnswer.probability = 1.0;
    deaf.faults.objects = {kObjectHorn};
    bench.forget();
    EXPECT_EQ(run("horn-check", deaf), cli::kExitNoInstrument);
    horn = bench.named("W8");
    ASSERT_EQ(horn.size(), 10U);
    EXPECT_EQ(horn[4].payload, Bytes{1});
    EXPECT_EQ(horn[5].payload, Bytes{0});
}

// ---- function ------------------------------------------------------------------

TEST_F(Ctl, FunctionsThatChangeTheInstrumentNeedYes)
{
    for (const char *name : {"lock", "reset", "default", "update"}) {
        EXPECT_EQ(run({"function", name}), cli::kExitUsage) << name;
        EXPECT_TRUE(errors.contains(QStringLiteral("add --yes"))) << errors.toStdString();
        EXPECT_EQ(errLines().size(), 1);
    }
    EXPECT_TRUE(bench.line().empty()) << "nothing is sent without --yes";
    EXPECT_TRUE(errors.contains(QStringLiteral("update mode")));

    EXPECT_EQ(run("function reset --yes"), cli::kExitOk) << errors.toStdString();
    std::vector<LineFrame> sent = bench.named("W127");
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_EQ(sent[0].payload, Bytes{3});
    EXPECT_TRUE(output.contains(QStringLiteral("Service function 3 (\"Reset\") accepted.")));

    EXPECT_EQ(run("function unlock"), cli::kExitOk);
    EXPECT_EQ(run("function off"), cli::kExitOk);
    sent = bench.named("W127");
    ASSERT_EQ(sent.size(), 3U);
    EXPECT_EQ(sent[1].payload, Bytes{6});
    EXPECT_EQ(sent[2].payload, Bytes{1});

    EXPECT_EQ(run("function update --yes"), cli::kExitOk);
    EXPECT_EQ(bench.named("W127").back().payload, Bytes{5});
    EXPECT_TRUE(output.contains(QStringLiteral("the port was closed")));

    EXPECT_EQ(run("function explode --yes"), cli::kExitUsage);
    EXPECT_EQ(run("function"), cli::kExitUsage);
    EXPECT_EQ(bench.named("W127").size(), 4U);
}

// ---- factory-setup -------------------------------------------------------------

TEST_F(Ctl, FactorySetupWritesAndShowsTheNewIdentity)
{
    const int code = run("factory-setup --serial 42 --customer-id lumo-7 --update-limit-list --yes");
    ASSERT_EQ(code, cli::kExitOk) << errors.toStdString();
    const std::vector<LineFrame> heard = bench.line();
    std::size_t at = 0;
    while (at < heard.size() && heard[at].name() != "W30")
        ++at;
    ASSERT_LT(at + 3, heard.size());
    const Bytes &payload = heard[at].payload;
    ASSERT_EQ(payload.size(), 28U);
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 4), (Bytes{42, 0, 0, 0}));
    EXPECT_EQ(Bytes(payload.begin() + 8, payload.begin() + 18), (Bytes{'L', 'U', 'M', 'O', '-', '7', 0, 0, 0, 0}));
    EXPECT_EQ(payload[18], 0xAA);
    EXPECT_EQ(Bytes(payload.begin() + 19, payload.end()), Bytes(9, 0));
    EXPECT_EQ((Names{heard[at + 1].name(), heard[at + 2].name()}), (Names{"C1", "R2"}));
    ExpectContains(output, {"00000042", "LUMO-7"});
}

TEST_F(Ctl, FactorySetupRefusesWhatItCannotSendAndAsksForYes)
{
    for (const char *arguments :
         {"factory-setup --serial 42", "factory-setup --yes", "factory-setup --serial 0 --yes",
          "factory-setup --serial -3 --yes", "factory-setup --serial 100000000 --yes",
          "factory-setup --serial 7 --customer-id A*B --yes"}) {
        EXPECT_EQ(run(arguments), cli::kExitUsage) << arguments;
        EXPECT_EQ(errLines().size(), 1) << errors.toStdString();
    }
    EXPECT_TRUE(bench.line().empty());
    EXPECT_EQ(run("factory-setup --serial 42"), cli::kExitUsage);
    EXPECT_TRUE(errors.contains(QStringLiteral("would write serial number 00000042"))) << errors.toStdString();
}

// ---- set customer-id ----------------------------------------------------------

TEST_F(Ctl, SetCustomerIdWritesItAndShowsWhatTheInstrumentHolds)
{
    ASSERT_EQ(run("set customer-id=ABC"), cli::kExitOk) << errors.toStdString();
    const std::vector<LineFrame> writes = bench.named("W2");
    ASSERT_EQ(writes.size(), 1U);
    Bytes expected(21, 0);
    std::copy_n("ABC", 3, expected.begin() + 10);
    EXPECT_EQ(writes[0].payload, expected);
    EXPECT_TRUE(output.contains(QStringLiteral("customer-id:  ABC"))) << output.toStdString();

    for (const char *bad : {"customer-id=ABCDEFGHIJ", "customer-id=A\u20AC"}) {
        EXPECT_EQ(run({"set", bad}), cli::kExitUsage) << bad;
        EXPECT_EQ(errLines().size(), 1) << errors.toStdString();
        EXPECT_TRUE(errors.contains(QStringLiteral("customer-id"))) << errors.toStdString();
    }
    EXPECT_EQ(bench.named("W2").size(), 1U);
}

TEST_F(Ctl, OptionsOfOneCommandAreRefusedByTheOthers)
{
    EXPECT_EQ(run("horn-check --yes"), cli::kExitUsage);
    EXPECT_EQ(run("info --serial 4"), cli::kExitUsage);
    EXPECT_EQ(run("horn-check now"), cli::kExitUsage);
    EXPECT_TRUE(bench.line().empty());
}

} // namespace
