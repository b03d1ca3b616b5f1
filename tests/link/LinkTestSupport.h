#pragma once
// Helpers for the link tests: a scripted instrument on a pseudo-terminal, an
// in-memory device and a recording screen seam, with the shared event-loop
// waiting.
#include "ExchangeReport.h"
#include "QStringPrinting.h"
#include "SerialBackend.h"
#include "TestApplication.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace linktest {

using r310test::EnsureApplication;
using r310test::SpinFor;
using r310test::SpinUntil;

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// A frame as the instrument sends it.
Bytes InstrumentFrame(std::uint8_t object, std::uint8_t flags, const Bytes &payload);
// The same frame with its last CRC byte changed.
Bytes WithBadCrc(Bytes frame);

// What the scripted instrument does with the next request.
struct Reply {
    Bytes bytes;                       // nothing: stay silent
    std::chrono::milliseconds delay{0}; // before answering
};

// A request frame as the instrument received it.
struct Received {
    Bytes frame;
    Clock::time_point at;
};

// An instrument on the master side of a pseudo-terminal. The configurator
// opens devicePath(). Each complete request frame takes the next reply of the
// script; when the script is empty the instrument stays silent.
class PtyInstrument {
public:
    PtyInstrument();
    ~PtyInstrument();
    PtyInstrument(const PtyInstrument &) = delete;
    PtyInstrument &operator=(const PtyInstrument &) = delete;

    QString devicePath() const { return devicePath_; }
    void script(std::initializer_list<Reply> replies);
    // Sends bytes at once, without a request.
    void send(const Bytes &bytes);
    std::vector<Received> requests() const;

private:
    void run();
    void takeFrames();

    int master_ = -1;
    int slave_ = -1;
    QString devicePath_;
    mutable std::mutex mutex_;
    std::deque<Reply> script_;
    std::vector<Received> requests_;
    Bytes pending_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Screen seam that records what the link shows.
class RecordingUi : public r310::ExchangeReport {
public:
    void setStatusText(int panel, const QString &text) override;
    void showError(const QString &text) override { errors.append(text); }

    QString panel(int index) const { return panels[index]; }

    QString panels[2];
    QStringList exchangeHistory; // every text written to panel 1
    QStringList errors;
};

// An in-memory device: the test feeds received bytes and inspects writes.
class MemoryDevice : public r310::SerialBackend {
    Q_OBJECT
public:
    bool open() override;
    void close() override { opened = false; }
    bool isOpen() const override { return opened; }
    bool write(const QByteArray &bytes) override;
    QByteArray readAll() override;
    qint64 bytesAvailable() const override { return incoming.size(); }
    qint64 bytesToWrite() const override { return unsent; }
    QString errorString() const override { return error; }

    // Bytes arrive from the line.
    void receive(const QByteArray &bytes);

    bool opened = false;
    bool refuseOpen = false;
    bool refuseWrite = false;
    qint64 unsent = 0; // pretended content of the transmit buffer
    QString error;
    QByteArray incoming;
    QList<QByteArray> writes;
};

} // namespace linktest
