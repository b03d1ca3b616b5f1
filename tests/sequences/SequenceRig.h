#pragma once
// A connection to the simulated instrument in-process, as the window would
// hold it: port service, transaction, record, decoder and the read
// sequences, with a view that records what it is told and a log of the
// request frames the instrument heard.
#include "SerialPort.h"
#include "InstrumentView.h"
#include "QStringPrinting.h"
#include "ReadSequences.h"
#include "SimBackend.h"
#include "SimClock.h"
#include "TestApplication.h"
#include "Transaction.h"

#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace seqtest {

using r310test::EnsureApplication;
using r310test::SpinFor;
using r310test::SpinUntil;
using SteadyClock = std::chrono::steady_clock;

class RecordingView : public r310::InstrumentView {
public:
    void setStatusText(int panel, const QString &text) override;
    void showError(const QString &text) override { errors.append(text); }
    void ClearInstrumentDisplay() override { ++clears; }
    void SetLamp(r310::LampColour colour) override { lamp = colour; }
    void SetCalibrationButtonsEnabled(bool enabled) override { calibrationButtons = enabled; }
    void ShowAnswer(const r310::DecodedAnswer &answer, const r310::AnswerFrame &) override
    {
        answers.push_back(answer);
    }
    r310::InstrumentTab ShowingTab() const override { return tab; }
    void ResetResultBackground() override { ++resultResets; }
    void ClosePortAfterCancel() override;
    void ShowClockNotTaken() override { ++clockNotTaken; }

    QString panels[2];
    QStringList phases;    // every text written to panel 0
    QStringList exchanges; // every text written to panel 1
    QStringList errors;
    r310::LampColour lamp = r310::LampColour::Red;
    bool calibrationButtons = false;
    int clears = 0;
    int resultResets = 0;
    int closePortCalls = 0;
    int clockNotTaken = 0;
    r310::InstrumentTab tab = r310::InstrumentTab::General;
    std::vector<r310::DecodedAnswer> answers;
    std::function<void()> closePort;
};

// A request frame as the instrument heard it.
struct HeardRequest {
    std::uint8_t object = 0;
    std::uint8_t flags = 0;
    std::vector<std::uint8_t> frame;
    SteadyClock::time_point at;

    // "R3" for a read of object 3, "W3" for a write.
    std::string name() const;
};

// Runs the idle poll from the test's event loop the way the connection's
// engine runs it between jobs: whenever it has work, never inside itself.
class PollDriver {
public:
    explicit PollDriver(r310::ReadSequences &sequences);
    void Install() { timer_.start(); }
    void Uninstall() { timer_.stop(); }
    int PollsRun() const { return pollsRun_; }

private:
    r310::ReadSequences &sequences_;
    QTimer timer_;
    bool running_ = false;
    int pollsRun_ = 0;
};

// The simulator's default instrument with line pacing off.
r310::sim::Scenario FastScenario();

class SequenceRig {
public:
    explicit SequenceRig(const r310::sim::Scenario &scenario = FastScenario(),
                         std::chrono::milliseconds tick = std::chrono::milliseconds(10));
    ~SequenceRig();

    // "&Open Port" without the search: clears Cancelled and opens the link.
    void Open();
    // "&Close Comport": sets Cancelled and closes the link.
    void Close();
    // Opens and runs the search and the connect sequence as "&Open Port" does.
    bool OpenAndConnect();

    // The instrument behind the link opened last.
    r310::sim::SimBackend &backend() { return *backend_; }
    r310::sim::Device &device() { return backend_->device(); }

    // Names of the requests heard so far ("C1", "R3", "W3", ...), and from index on.
    std::vector<std::string> heard(std::size_t from = 0) const;
    std::size_t heardCount() const { return requests.size(); }
    // Forgets the requests heard so far.
    void forgetHeard() { requests.clear(); }
    // Heard requests that wrote the clock.
    int clockWrites() const;

    std::shared_ptr<r310::sim::ManualClock> clock;
    r310::sim::Scenario scenario;
    std::vector<HeardRequest> requests;
    RecordingView view;
    r310::SerialPort port;
    r310::Transaction transaction;
    r310::InstrumentRecord record;
    r310::AnswerDecoder decoder;
    r310::ReadSequences sequences;
    PollDriver poll;

private:
    r310::sim::SimBackend *backend_ = nullptr;
};

} // namespace seqtest
