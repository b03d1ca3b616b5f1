#include "WebProcess.h"

#include <BuildPrograms.h>

#include <QElapsedTimer>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace webtest {

using namespace Qt::StringLiterals;

WebProcess::WebProcess(const QString &records, const QString &usersFile, const QStringList &more)
{
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(r310test::BuildProgram(u"r310web"_s),
                   QStringList{u"--records"_s, records, u"--users"_s, usersFile, u"--listen"_s, u"127.0.0.1:0"_s}
                       + more);
    static const QRegularExpression serving(u"on https?://127\\.0\\.0\\.1:(\\d+)/"_s);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000 && process_.state() != QProcess::NotRunning) {
        process_.waitForReadyRead(200);
        output_ += QString::fromUtf8(process_.readAll());
        const QRegularExpressionMatch match = serving.match(output_);
        if (match.hasMatch()) {
            port_ = match.captured(1).toInt();
            return;
        }
    }
    output_ += QString::fromUtf8(process_.readAll());
}

WebProcess::~WebProcess()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(10000))
        process_.kill();
    process_.waitForFinished(3000);
}

std::unique_ptr<httplib::Client> WebProcess::client() const
{
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port_);
    c->set_read_timeout(60, 0);
    return c;
}

std::string WebProcess::Login(const std::string &user, const std::string &password) const
{
    const httplib::Result res = client()->Post("/login", httplib::Params{{"user", user}, {"password", password}});
    if (!res || res->status != 303)
        return {};
    const std::string cookie = res->get_header_value("Set-Cookie");
    return cookie.substr(0, cookie.find(';'));
}

WebProcess::Answer WebProcess::Get(const std::string &path, const std::string &cookie) const
{
    const httplib::Result res = client()->Get(path.c_str(), httplib::Headers{{"Cookie", cookie}});
    if (!res)
        return {};
    return {res->status, res->body, res->headers};
}

std::string WebProcess::Answer::header(const char *name) const
{
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

WebRun RunWeb(const QStringList &arguments, const QByteArray &input)
{
    QProcess process;
    process.start(r310test::BuildProgram(u"r310web"_s), arguments);
    process.write(input);
    process.closeWriteChannel();
    WebRun run;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

std::string RawStatus(int port, const std::string &request)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        std::size_t sent = 0;
        while (sent < request.size()) {
            const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        char buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            answer.assign(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return answer.substr(0, answer.find("\r\n"));
}

} // namespace webtest
