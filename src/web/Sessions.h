#pragma once
// Who is logged in: a session per login, named by a random token that only
// the browser's cookie holds, ended by logout or after 8 hours without a
// request. Failed logins are counted per address: after the first three,
// each further failure makes that address wait (2 s, twice as long each
// time, at most 15 minutes) before a password of it is looked at again.
#include <QString>

#include <chrono>
#include <map>
#include <mutex>
#include <optional>

namespace r310::web {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::hours kSessionIdle{8};

class Sessions {
public:
    // A new session's token (64 hexadecimal digits).
    QString Start(const QString &user, Clock::time_point now = Clock::now());
    // The user of a live session, which counts as used now.
    std::optional<QString> User(const QString &token, Clock::time_point now = Clock::now());
    void End(const QString &token);
    // Ends every session of a user (removed from the user file).
    void EndUser(const QString &user);

private:
    struct Session {
        QString user;
        Clock::time_point used;
    };
    std::mutex mutex_;
    std::map<QString, Session> sessions_;
};

class LoginThrottle {
public:
    // Failures an address may have before it must wait.
    static constexpr int kFree = 3;
    static constexpr std::chrono::seconds kLongest{15 * 60};

    // Seconds the address must still wait; 0 when its login may be checked.
    qint64 Wait(const QString &address, Clock::time_point now = Clock::now());
    void Failed(const QString &address, Clock::time_point now = Clock::now());
    void Succeeded(const QString &address);

private:
    struct Failures {
        int count = 0;
        Clock::time_point last;
        Clock::time_point until;
    };
    std::mutex mutex_;
    std::map<QString, Failures> failures_;
};

} // namespace r310::web
