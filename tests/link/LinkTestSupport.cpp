#include "LinkTestSupport.h"

#include "ReferenceCrc.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace linktest {

Bytes InstrumentFrame(std::uint8_t object, std::uint8_t flags, const Bytes &payload)
{
    Bytes frame(payload.size() + 7);
    const std::uint8_t head[] = {'V', 'Y', 'K', '4', object, flags, static_cast<std::uint8_t>(payload.size())};
    std::copy(std::begin(head), std::end(head), frame.begin());
    std::copy(payload.begin(), payload.end(), frame.begin() + 7);
    const std::uint16_t crc = r310test::BitwiseCrc(frame);
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return frame;
}

Bytes WithBadCrc(Bytes frame)
{
    frame.back() ^= 0x5A;
    return frame;
}

PtyInstrument::PtyInstrument()
{
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    // Raw line discipline at once, so nothing is echoed before the port is configured.
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
    devicePath_ = QString::fromLocal8Bit(name);
    thread_ = std::thread([this] { run(); });
}

PtyInstrument::~PtyInstrument()
{
    stop_ = true;
    thread_.join();
    close(slave_);
    close(master_);
}

void PtyInstrument::script(std::initializer_list<Reply> replies)
{
    std::lock_guard<std::mutex> lock(mutex_);
    script_.assign(replies.begin(), replies.end());
}

void PtyInstrument::send(const Bytes &bytes)
{
    if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("pseudo-terminal write failed");
}

std::vector<Received> PtyInstrument::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void PtyInstrument::run()
{
    while (!stop_) {
        pollfd descriptor{master_, POLLIN, 0};
        if (poll(&descriptor, 1, 5) <= 0 || !(descriptor.revents & POLLIN))
            continue;
        std::uint8_t buffer[256];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        pending_.insert(pending_.end(), buffer, buffer + n);
        takeFrames();
    }
}

void PtyInstrument::takeFrames()
{
    static const Bytes header = {'V', 'Y', 'K', '4'};
    for (;;) {
        const auto start = std::search(pending_.begin(), pending_.end(), header.begin(), header.end());
        pending_.erase(pending_.begin(), start);
        if (pending_.size() < 7 || pending_.size() < pending_[6] + 9u)
            return;
        const Bytes frame(pending_.begin(), pending_.begin() + pending_[6] + 9);
        pending_.erase(pending_.begin(), pending_.begin() + frame.size());

        Reply reply;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back({frame, Clock::now()});
            if (!script_.empty()) {
                reply = script_.front();
                script_.pop_front();
            }
        }
        if (reply.bytes.empty())
            continue;
        std::this_thread::sleep_for(reply.delay);
        send(reply.bytes);
    }
}

void RecordingUi::setStatusText(int panel, const QString &text)
{
    panels[panel] = text;
    if (panel == r310::kStatusPanelExchange)
        exchangeHistory.append(text);
}

bool MemoryDevice::open()
{
    if (refuseOpen)
        return false;
    opened = true;
    return true;
}

bool MemoryDevice::write(const QByteArray &bytes)
{
    if (refuseWrite)
        return false;
    writes.append(bytes);
    return true;
}

QByteArray MemoryDevice::readAll()
{
    QByteArray bytes;
    bytes.swap(incoming);
    return bytes;
}

void MemoryDevice::receive(const QByteArray &bytes)
{
    incoming.append(bytes);
    emit readyRead();
}

} // namespace linktest
