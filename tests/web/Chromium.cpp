#include "Chromium.h"

#include <QElapsedTimer>
#include <QJsonDocument>

#include <csignal>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace webtest {

using namespace Qt::StringLiterals;

Chromium::Chromium()
{
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) {
        problem_ = u"no pipes"_s;
        return;
    }
    // The browser reads commands on descriptor 3 and writes answers on 4.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 3);
    posix_spawn_file_actions_adddup2(&actions, out[1], 4);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string profile = "--user-data-dir=" + profile_.path().toStdString();
    std::vector<std::string> words;
    for (const QString &word :
         QStringLiteral("chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                        "--disable-background-networking --disable-component-update --disable-sync "
                        "--remote-debugging-pipe --window-size=1280,900 about:blank")
             .split(QLatin1Char(' ')))
        words.push_back(word.toStdString());
    words.insert(words.begin() + 1, profile);
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawnp(&pid_, "chromium", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    toBrowser_ = in[1];
    fromBrowser_ = out[0];
    if (spawned != 0) {
        pid_ = -1;
        problem_ = u"Debian's chromium is not installed (scripts/setup.sh installs it)"_s;
        return;
    }
    const QJsonObject target = Call(u"Target.createTarget"_s, {{u"url"_s, u"about:blank"_s}}, true);
    const QJsonObject attached =
        Call(u"Target.attachToTarget"_s, {{u"targetId"_s, target.value(u"targetId"_s)}, {u"flatten"_s, true}}, true);
    session_ = attached.value(u"sessionId"_s).toString();
    if (session_.isEmpty()) {
        problem_ = u"chromium started, but its DevTools protocol did not answer"_s;
        return;
    }
    Call(u"Page.enable"_s);
    Call(u"Emulation.setDeviceMetricsOverride"_s,
         {{u"width"_s, 1280}, {u"height"_s, 900}, {u"deviceScaleFactor"_s, 1}, {u"mobile"_s, false}});
}

Chromium::~Chromium()
{
    // Closed as a user closes it, so its helper processes are gone before the profile is removed.
    if (pid_ > 0 && !session_.isEmpty())
        Call(u"Browser.close"_s, {}, true);
    if (toBrowser_ >= 0)
        close(toBrowser_);
    if (fromBrowser_ >= 0)
        close(fromBrowser_);
    if (pid_ <= 0)
        return;
    int status = 0;
    for (int wait = 0; wait < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++wait)
        usleep(50000);
    if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
}

QJsonObject Chromium::Read(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (true) {
        const int end = pending_.indexOf('\0');
        if (end >= 0) {
            const QJsonObject message = QJsonDocument::fromJson(pending_.left(end)).object();
            pending_.remove(0, end + 1);
            return message;
        }
        const int left = milliseconds - static_cast<int>(clock.elapsed());
        pollfd fd{fromBrowser_, POLLIN, 0};
        if (left <= 0 || poll(&fd, 1, left) <= 0)
            return {};
        char buffer[65536];
        const ssize_t n = read(fromBrowser_, buffer, sizeof buffer);
        if (n <= 0)
            return {};
        pending_.append(buffer, static_cast<int>(n));
    }
}

QJsonObject Chromium::Call(const QString &method, const QJsonObject &params, bool browser)
{
    if (pid_ <= 0)
        return {};
    const int id = nextId_++;
    QJsonObject command{{u"id"_s, id}, {u"method"_s, method}, {u"params"_s, params}};
    if (!browser)
        command.insert(u"sessionId"_s, session_);
    const QByteArray bytes = QJsonDocument(command).toJson(QJsonDocument::Compact) + '\0';
    if (write(toBrowser_, bytes.constData(), static_cast<std::size_t>(bytes.size())) != bytes.size())
        return {};
    while (true) {
        const QJsonObject message = Read(30000);
        if (message.isEmpty())
            return {};
        if (message.value(u"id"_s).toInt() == id)
            return message.value(u"result"_s).toObject();
        if (message.contains(u"method"_s))
            events_.push_back(message);
    }
}

bool Chromium::WaitFor(const QString &event, int milliseconds)
{
    for (auto it = events_.begin(); it != events_.end(); ++it) {
        if (it->value(u"method"_s).toString() == event) {
            events_.erase(events_.begin(), it + 1);
            return true;
        }
    }
    events_.clear();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        const QJsonObject message = Read(milliseconds - static_cast<int>(clock.elapsed()));
        if (message.isEmpty())
            return false;
        if (message.value(u"method"_s).toString() == event)
            return true;
    }
    return false;
}

bool Chromium::Open(const QString &url)
{
    events_.clear();
    Call(u"Page.navigate"_s, {{u"url"_s, url}});
    return WaitFor(u"Page.loadEventFired"_s, 30000);
}

bool Chromium::Type(const QString &selector, const QString &text)
{
    const int root = Call(u"DOM.getDocument"_s).value(u"root"_s).toObject().value(u"nodeId"_s).toInt();
    const int node =
        Call(u"DOM.querySelector"_s, {{u"nodeId"_s, root}, {u"selector"_s, selector}}).value(u"nodeId"_s).toInt();
    if (node == 0)
        return false;
    Call(u"DOM.focus"_s, {{u"nodeId"_s, node}});
    Call(u"Input.insertText"_s, {{u"text"_s, text}});
    return true;
}

bool Chromium::PressEnterAndWait()
{
    events_.clear();
    const QJsonObject key{{u"key"_s, u"Enter"_s}, {u"code"_s, u"Enter"_s}, {u"windowsVirtualKeyCode"_s, 13}};
    QJsonObject down = key;
    down.insert(u"type"_s, u"keyDown"_s);
    down.insert(u"text"_s, u"\r"_s);
    QJsonObject up = key;
    up.insert(u"type"_s, u"keyUp"_s);
    Call(u"Input.dispatchKeyEvent"_s, down);
    Call(u"Input.dispatchKeyEvent"_s, up);
    return WaitFor(u"Page.loadEventFired"_s, 30000);
}

QJsonArray Chromium::Cookies() { return Call(u"Network.getCookies"_s).value(u"cookies"_s).toArray(); }

QByteArray Chromium::Screenshot()
{
    const QString data = Call(u"Page.captureScreenshot"_s, {{u"format"_s, u"png"_s}}).value(u"data"_s).toString();
    return QByteArray::fromBase64(data.toLatin1());
}

} // namespace webtest
