#include "Sessions.h"

#include <sodium.h>

#include <algorithm>

namespace r310::web {

namespace {

// Entries kept before the stale ones are dropped.
constexpr std::size_t kPruneAbove = 10000;

template <typename Map, typename Stale>
void Prune(Map &map, Stale stale)
{
    if (map.size() <= kPruneAbove)
        return;
    for (auto it = map.begin(); it != map.end();)
        it = stale(it->second) ? map.erase(it) : std::next(it);
}

} // namespace

QString Sessions::Start(const QString &user, Clock::time_point now)
{
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    const QString token = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes), sizeof bytes).toHex());
    const std::lock_guard<std::mutex> lock(mutex_);
    Prune(sessions_, [now](const Session &s) { return now - s.used > kSessionIdle; });
    sessions_[token] = {user, now};
    return token;
}

std::optional<QString> Sessions::User(const QString &token, Clock::time_point now)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = sessions_.find(token);
    if (it == sessions_.end())
        return std::nullopt;
    if (now - it->second.used > kSessionIdle) {
        sessions_.erase(it);
        return std::nullopt;
    }
    it->second.used = now;
    return it->second.user;
}

void Sessions::End(const QString &token)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(token);
}

void Sessions::EndUser(const QString &user)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();)
        it = it->second.user == user ? sessions_.erase(it) : std::next(it);
}

qint64 LoginThrottle::Wait(const QString &address, Clock::time_point now)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = failures_.find(address);
    if (it == failures_.end() || it->second.until <= now)
        return 0;
    return std::chrono::ceil<std::chrono::seconds>(it->second.until - now).count();
}

void LoginThrottle::Failed(const QString &address, Clock::time_point now)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    Prune(failures_, [now](const Failures &f) { return now - f.last > std::chrono::hours(24); });
    Failures &f = failures_[address];
    // A day without failures starts the count again.
    if (now - f.last > std::chrono::hours(24))
        f.count = 0;
    ++f.count;
    f.last = now;
    if (f.count > kFree) {
        const int doublings = std::min(f.count - kFree, 10);
        f.until = now + std::min<std::chrono::seconds>(std::chrono::seconds(1LL << doublings), kLongest);
    }
}

void LoginThrottle::Succeeded(const QString &address)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    failures_.erase(address);
}

} // namespace r310::web
