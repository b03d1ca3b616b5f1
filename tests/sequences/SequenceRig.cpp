#include "SequenceRig.h"

namespace seqtest {

using namespace r310;

void RecordingView::setStatusText(int panel, const QString &text)
{
    panels[panel] = text;
    (panel == kStatusPanelPhase ? phases : exchanges).append(text);
}

void RecordingView::ClosePortAfterCancel()
{
    ++closePortCalls;
    if (closePort)
        closePort();
}

std::string HeardRequest::name() const
{
    if (object == kObjectConnect)
        return "C1";
    return ((flags & kFlagWriteBit) ? "W" : "R") + std::to_string(object);
}

PollDriver::PollDriver(ReadSequences &sequences) : sequences_(sequences)
{
    // Checked often, so a poll starts soon after its countdown ran out.
    timer_.setInterval(std::chrono::milliseconds(2));
    timer_.callOnTimeout([this] {
        if (running_ || !sequences_.IdlePollHasWork())
            return;
        running_ = true;
        ++pollsRun_;
        sequences_.IdlePoll();
        running_ = false;
    });
}

sim::Scenario FastScenario()
{
    sim::Scenario scenario;
    scenario.pacing = false;
    return scenario;
}

SequenceRig::SequenceRig(const sim::Scenario &s, std::chrono::milliseconds tick)
    : clock(std::make_shared<sim::ManualClock>()),
      scenario(s),
      port([this](const QString &, const LineSettings &) {
          auto link = std::make_unique<sim::SimBackend>(scenario, clock);
          link->setPacing(scenario.pacing);
          link->device().setTrace([this](const sim::TraceEntry &entry) {
              if (entry.kind != sim::TraceEntry::Kind::Request || entry.bytes.size() < kOffsetPayload)
                  return;
              requests.push_back({entry.bytes[kOffsetObject], entry.bytes[kOffsetFlags], entry.bytes,
                                  SteadyClock::now()});
          });
          backend_ = link.get();
          return link;
      }),
      transaction(port, view),
      sequences(port, transaction, decoder, record, view),
      poll(sequences)
{
    transaction.SetTickLength(tick);
    // The PC's clock is the simulator's, so clock differences are exact.
    sequences.SetPcClock([this] { return static_cast<std::int32_t>(clock->localSeconds()); });
    view.closePort = [this] { Close(); };
    port.SetPortName(QStringLiteral("sim"));
}

SequenceRig::~SequenceRig()
{
    poll.Uninstall();
    transaction.StopTicking();
    port.SetOpen(false);
}

void SequenceRig::Open()
{
    transaction.ClearCancel();
    port.SetOpen(true);
}

void SequenceRig::Close()
{
    transaction.Cancel();
    port.SetOpen(false);
}

bool SequenceRig::OpenAndConnect()
{
    Open();
    return sequences.SearchInstrument() && sequences.ConnectSequence();
}

std::vector<std::string> SequenceRig::heard(std::size_t from) const
{
    std::vector<std::string> names;
    for (std::size_t i = from; i < requests.size(); ++i)
        names.push_back(requests[i].name());
    return names;
}

int SequenceRig::clockWrites() const
{
    int writes = 0;
    for (const HeardRequest &request : requests)
        writes += request.name() == "W3" ? 1 : 0;
    return writes;
}

} // namespace seqtest
