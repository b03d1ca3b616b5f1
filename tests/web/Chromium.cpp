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

Chromium::Chromium()
{
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) {
        problem_ = QStringLiteral("no pipes");
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
    std::vector<std::string> words{"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                   "--no-first-run", "--disable-background-networking", "--disable-component-update",
                                   "--disable-sync", profile, "--remote-debugging-pipe", "--window-size=1280,900",
                                   "about:blank"};
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
        problem_ = QStringLiteral("Debian's chromium is not installed (scripts/setup.sh installs it)");
        return;
    }
    const QJsonObject target = Call(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), QStringLiteral("about:blank")}}, true);
    const QJsonObject attached = Call(QStringLiteral("Target.attachToTarget"),
                                      {{QStringLiteral("targetId"), target.value(QStringLiteral("targetId"))},
                                       {QStringLiteral("flatten"), true}},
                                      true);
    session_ = attached.value(QStringLiteral("sessionId")).toString();
    if (session_.isEmpty()) {
        problem_ = QStringLiteral("chromium started, but its DevTools protocol did not answer");
        return;
    }
    Call(QStringLiteral("Page.enable"));
    Call(QStringLiteral("Emulation.setDeviceMetricsOverride"),
         {{QStringLiteral("width"), 1280}, {QStringLiteral("height"), 900}, {QStringLiteral("deviceScaleFactor"), 1},
          {QStringLiteral("mobile"), false}});
}

Chromium::~Chromium()
{
    // Closed as a user closes it, so its helper processes are gone before the profile is removed.
    if (pid_ > 0 && !session_.isEmpty())
        Call(QStringLiteral("Browser.close"), {}, true);
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
    QJsonObject command{{QStringLiteral("id"), id}, {QStringLiteral("method"), method}, {QStringLiteral("params"), params}};
    if (!browser)
        command.insert(QStringLiteral("sessionId"), session_);
    const QByteArray bytes = QJsonDocument(command).toJson(QJsonDocument::Compact) + '\0';
    if (write(toBrowser_, bytes.constData(), static_cast<std::size_t>(bytes.size())) != bytes.size())
        return {};
    while (true) {
        const QJsonObject message = Read(30000);
        if (message.isEmpty())
            return {};
        if (message.value(QStringLiteral("id")).toInt() == id)
            return message.value(QStringLiteral("result")).toObject();
        if (message.contains(QStringLiteral("method")))
            events_.push_back(message);
    }
}

bool Chromium::WaitFor(const QString &event, int milliseconds)
{
    for (auto it = events_.begin(); it != events_.end(); ++it) {
        if (it->value(QStringLiteral("method")).toString() == event) {
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
        if (message.value(QStringLiteral("method")).toString() == event)
            return true;
    }
    return false;
}

bool Chromium::Open(const QString &url)
{
    events_.clear();
    Call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}});
    return WaitFor(QStringLiteral("Page.loadEventFired"), 30000);
}

bool Chromium::Type(const QString &selector, const QString &text)
{
    const int root = Call(QStringLiteral("DOM.getDocument")).value(QStringLiteral("root")).toObject().value(QStringLiteral("nodeId")).toInt();
    const int node = Call(QStringLiteral("DOM.querySelector"), {{QStringLiteral("nodeId"), root}, {QStringLiteral("selector"), selector}})
                         .value(QStringLiteral("nodeId"))
                         .toInt();
    if (node == 0)
        return false;
    Call(QStringLiteral("DOM.focus"), {{QStringLiteral("nodeId"), node}});
    Call(QStringLiteral("Input.insertText"), {{QStringLiteral("text"), text}});
    return true;
}

bool Chromium::PressEnterAndWait()
{
    events_.clear();
    const QJsonObject key{{QStringLiteral("key"), QStringLiteral("Enter")}, {QStringLiteral("code"), QStringLiteral("Enter")},
                          {QStringLiteral("windowsVirtualKeyCode"), 13}};
    QJsonObject down = key;
    down.insert(QStringLiteral("type"), QStringLiteral("keyDown"));
    down.insert(QStringLiteral("text"), QStringLiteral("\r"));
    QJsonObject up = key;
    up.insert(QStringLiteral("type"), QStringLiteral("keyUp"));
    Call(QStringLiteral("Input.dispatchKeyEvent"), down);
    Call(QStringLiteral("Input.dispatchKeyEvent"), up);
    return WaitFor(QStringLiteral("Page.loadEventFired"), 30000);
}

QString Chromium::Url()
{
    const QJsonArray entries = Call(QStringLiteral("Page.getNavigationHistory")).value(QStringLiteral("entries")).toArray();
    return entries.isEmpty() ? QString() : entries.last().toObject().value(QStringLiteral("url")).toString();
}

QJsonArray Chromium::Cookies()
{
    return Call(QStringLiteral("Network.getCookies")).value(QStringLiteral("cookies")).toArray();
}

QByteArray Chromium::Screenshot()
{
    const QString data = Call(QStringLiteral("Page.captureScreenshot"), {{QStringLiteral("format"), QStringLiteral("png")}})
                             .value(QStringLiteral("data"))
                             .toString();
    return QByteArray::fromBase64(data.toLatin1());
}

} // namespace webtest
