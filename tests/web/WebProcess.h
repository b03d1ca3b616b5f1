#pragma once
// r310web of this build as the tests start it: on a loopback port the
// program picks, over the given records and user file; requests to it
// through cpp-httplib's client, and raw bytes for requests no client sends.
#include <QProcess>
#include <QString>
#include <QStringList>

#include <httplib.h>

#include <memory>
#include <string>

namespace webtest {

class WebProcess {
public:
    WebProcess(const QString &records, const QString &usersFile, const QStringList &more = {});
    ~WebProcess();
    WebProcess(const WebProcess &) = delete;
    WebProcess &operator=(const WebProcess &) = delete;

    // 0 when the program did not start; its output then says why.
    int port() const { return port_; }
    QString output() const { return output_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::unique_ptr<httplib::Client> client() const;
    // The session cookie ("r310web_session=..."); empty when the login failed.
    std::string Login(const std::string &user, const std::string &password) const;
    // A GET with the cookie; status -1 when no answer came.
    struct Answer {
        int status = -1;
        std::string body;
        httplib::Headers headers;
        std::string header(const char *name) const;
    };
    Answer Get(const std::string &path, const std::string &cookie = {}) const;

private:
    QProcess process_;
    QString output_;
    int port_ = 0;
};

// Runs r310web once (a user command) with `input` on standard input; its exit code and output.
struct WebRun {
    int exitCode = -1;
    QString out, err;
};
WebRun RunWeb(const QStringList &arguments, const QByteArray &input = {});

// Sends `request` as it is and returns the answer's status line.
std::string RawStatus(int port, const std::string &request);

} // namespace webtest
