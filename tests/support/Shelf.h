#pragma once
// Detectors swapped on one cradle: the instruments behind one port name, one
// after the other, every request they hear written down, and the instrument
// behind the open port exchanged for another on the engine thread. The
// connection tests and the window's port-loss tests use it.
#include "R310_typ.h"
#include "SerialPort.h"
#include "SimBackend.h"

#include <QMetaObject>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace r310test {

constexpr std::int32_t kSerialA = 1234;
constexpr std::int32_t kSerialB = 5678;

// Instrument A on the line as `scenario` describes it otherwise, unpaced.
inline r310::sim::Scenario InstrumentA(r310::sim::Scenario scenario = {})
{
    scenario.pacing = false;
    scenario.serialNumber = kSerialA;
    scenario.exponent = 0;
    scenario.thresholds = {30, 60, 150, 30, 20};
    return scenario;
}

// Another instrument of the same type: another serial number and a scale
// ten times finer.
inline r310::sim::Scenario InstrumentB(r310::sim::Scenario scenario = {})
{
    scenario = InstrumentA(scenario);
    scenario.serialNumber = kSerialB;
    scenario.exponent = -1;
    scenario.thresholds = {300, 600, 1500, 300, 200};
    return scenario;
}

// The instruments behind the port name "sim", one after the other: each
// open meets the next of them (the last one stays). Every request they hear
// is written down; the instrument behind the open port can be exchanged for
// another on the engine thread, as a technician swaps detectors on one cradle.
class Shelf {
public:
    explicit Shelf(std::vector<r310::sim::Scenario> instruments) : instruments_(std::move(instruments)) {}

    r310::SerialPort::BackendFactory link(const std::shared_ptr<Shelf> &self)
    {
        return [self](const QString &, const r310::LineSettings &) -> std::unique_ptr<r310::SerialBackend> {
            const r310::sim::Scenario scenario =
                self->instruments_[std::min(self->opens_++, self->instruments_.size() - 1)];
            auto backend = std::make_unique<r310::sim::SimBackend>(scenario);
            backend->setPacing(false);
            r310::sim::SimBackend *raw = backend.get();
            backend->device().setTrace([self, raw](const r310::sim::TraceEntry &entry) { self->trace(*raw, entry); });
            self->backend_ = raw;
            return backend;
        };
    }

    // Puts `next` on the port in place of the instrument there (engine thread).
    void swapTo(const r310::sim::Scenario &next)
    {
        backend_->device().state() = r310::sim::Device(next).state();
        note("swap");
    }
    // Asks the engine thread to do f with the open link.
    void onEngine(std::function<void(r310::sim::SimBackend &)> f)
    {
        QMetaObject::invokeMethod(backend_, [this, f = std::move(f)] { f(*backend_); }, Qt::QueuedConnection);
    }

    std::vector<std::string> heard() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return names_;
    }
    std::size_t count() const { return heard().size(); }
    void forget()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        names_.clear();
    }
    // How many writes were heard, leaving out the connect request.
    std::size_t writes() const
    {
        const std::vector<std::string> all = heard();
        return static_cast<std::size_t>(
            std::count_if(all.begin(), all.end(), [](const std::string &n) { return n[0] == 'W'; }));
    }
    // What was heard after the last swap.
    std::vector<std::string> heardAfterSwap() const
    {
        const std::vector<std::string> all = heard();
        const auto swap = std::find(all.rbegin(), all.rend(), "swap");
        return swap == all.rend() ? std::vector<std::string>{} : std::vector<std::string>(swap.base(), all.end());
    }
    void note(std::string name)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        names_.push_back(std::move(name));
    }

    // Called for each trace entry of the instrument on the port (engine thread).
    std::function<void(Shelf &, const r310::sim::TraceEntry &)> onTrace;
    r310::sim::SimBackend *backend() const { return backend_; }

private:
    void trace(r310::sim::SimBackend &, const r310::sim::TraceEntry &entry)
    {
        if (entry.kind == r310::sim::TraceEntry::Kind::Request && entry.bytes.size() >= r310::kOffsetPayload) {
            const std::uint8_t object = entry.bytes[r310::kOffsetObject];
            const bool write = object != r310::kObjectConnect && (entry.bytes[r310::kOffsetFlags] & r310::kFlagWriteBit) != 0;
            note(object == r310::kObjectConnect ? "C1" : (write ? "W" : "R") + std::to_string(object));
        }
        if (onTrace)
            onTrace(*this, entry);
    }

    std::vector<r310::sim::Scenario> instruments_;
    std::size_t opens_ = 0;
    r310::sim::SimBackend *backend_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<std::string> names_;
};

} // namespace r310test
