#include "PtyServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace r310::sim {

namespace {

// Unread answers beyond this mean nobody is listening: they are dropped,
// as bytes sent to a closed port are.
constexpr int kMaxUnread = 4096;

QString Hex(const Bytes &bytes)
{
    QString text;
    for (std::uint8_t b : bytes)
        text += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return text.trimmed();
}

QString SystemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PtyServer::PtyServer(const Scenario &scenario, QObject *parent) : QObject(parent), device_(scenario)
{
    deliveryTimer_.setSingleShot(true);
    deliveryTimer_.setTimerType(Qt::PreciseTimer);
    connect(&deliveryTimer_, &QTimer::timeout, this, &PtyServer::deliverDue);
}

PtyServer::~PtyServer()
{
    closeAll();
}

void PtyServer::closeAll()
{
    readNotifier_.reset();
    if (ownSlave_ >= 0)
        ::close(ownSlave_);
    if (master_ >= 0)
        ::close(master_);
    ownSlave_ = master_ = -1;
}

bool PtyServer::start(QString *error)
{
    const auto fail = [&](const char *what) {
        if (error)
            *error = SystemError(what);
        closeAll();
        return false;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0)
        return fail("posix_openpt");
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return fail("grantpt/unlockpt");
    const char *name = ::ptsname(master_);
    if (!name)
        return fail("ptsname");
    slavePath_ = QString::fromLocal8Bit(name);
    ownSlave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (ownSlave_ < 0)
        return fail("open slave");
    termios raw{};
    if (::tcgetattr(ownSlave_, &raw) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&raw);
    ::cfsetispeed(&raw, B9600);
    ::cfsetospeed(&raw, B9600);
    if (::tcsetattr(ownSlave_, TCSANOW, &raw) != 0)
        return fail("tcsetattr");
    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");

    readNotifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    connect(readNotifier_.get(), &QSocketNotifier::activated, this, &PtyServer::readRequests);
    return true;
}

void PtyServer::setLog(std::function<void(const QString &)> sink)
{
    if (!sink) {
        device_.setTrace(nullptr);
        return;
    }
    const std::int64_t start = device_.clock().nowMicros();
    device_.setTrace([sink = std::move(sink), start](const TraceEntry &entry) {
        static const char *const kinds[] = {"->", "!crc", "!ignored", "<-", "!unanswered"};
        const QString line = QStringLiteral("%1 %2 %3")
                                 .arg((entry.atMicros - start) / 1000, 8)
                                 .arg(QLatin1String(kinds[static_cast<int>(entry.kind)]))
                                 .arg(Hex(entry.bytes));
        sink(line);
    });
}

void PtyServer::readRequests()
{
    std::uint8_t buffer[512];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            for (Emission &e : device_.receive(buffer, static_cast<std::size_t>(n)))
                pending_.push_back(std::move(e));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: all read. EIO cannot happen while our own slave is open.
    }
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const Emission &a, const Emission &b) { return a.atMicros < b.atMicros; });
    armTimer();
}

void PtyServer::deliverDue()
{
    const std::int64_t now = device_.clock().nowMicros();
    Bytes due;
    while (!pending_.empty() && pending_.front().atMicros <= now) {
        const Bytes &b = pending_.front().bytes;
        due.insert(due.end(), b.begin(), b.end());
        pending_.pop_front();
    }
    if (!due.empty()) {
        int unread = 0;
        if (::ioctl(ownSlave_, FIONREAD, &unread) == 0 && unread > kMaxUnread)
            ::tcflush(ownSlave_, TCIFLUSH);
        std::size_t offset = 0;
        while (offset < due.size()) {
            const ssize_t n = ::write(master_, due.data() + offset, due.size() - offset);
            if (n > 0)
                offset += static_cast<std::size_t>(n);
            else if (!(n < 0 && errno == EINTR))
                break; // a full line drops the rest, as a serial line would
        }
    }
    armTimer();
}

void PtyServer::armTimer()
{
    if (pending_.empty()) {
        deliveryTimer_.stop();
        return;
    }
    const std::int64_t wait = pending_.front().atMicros - device_.clock().nowMicros();
    deliveryTimer_.start(static_cast<int>(std::clamp<std::int64_t>((wait + 999) / 1000, 0, 1 << 30)));
}

} // namespace r310::sim
