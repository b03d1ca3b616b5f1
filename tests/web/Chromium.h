#pragma once
// Debian's headless Chromium, driven through its DevTools protocol on a
// pair of pipes: open a page, type into fields, press Enter, read the
// cookies the browser keeps and take screenshots as a user's browser shows
// the pages. No script of the page's own is needed for any of it.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

#include <sys/types.h>

namespace webtest {

class Chromium {
public:
    Chromium();
    ~Chromium();
    Chromium(const Chromium &) = delete;
    Chromium &operator=(const Chromium &) = delete;

    // Empty when the browser runs; else why not.
    QString problem() const { return problem_; }
    // Opens the address in the page and waits until it has loaded.
    bool Open(const QString &url);
    // Types the text into the field of the CSS selector.
    bool Type(const QString &selector, const QString &text);
    // Presses Enter and waits for the page it leads to.
    bool PressEnterAndWait();
    QJsonArray Cookies();
    // A PNG of the page as shown at 1280x900.
    QByteArray Screenshot();

private:
    // Sends a command (to the page unless `browser`) and waits for its answer.
    QJsonObject Call(const QString &method, const QJsonObject &params = {}, bool browser = false);
    bool WaitFor(const QString &event, int milliseconds);
    QJsonObject Read(int milliseconds);

    QTemporaryDir profile_;
    pid_t pid_ = -1;
    int toBrowser_ = -1;
    int fromBrowser_ = -1;
    QByteArray pending_;
    QString session_;
    int nextId_ = 1;
    QString problem_;
    std::vector<QJsonObject> events_;
};

} // namespace webtest
