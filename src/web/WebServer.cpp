#include "WebServer.h"

#include "FleetPage.h"
#include "Html.h"
#include "InstrumentPage.h"
#include "Pages.h"

#include <httplib.h>

#include <iostream>

namespace r310::web {

namespace {

const std::string kCookie = "r310web_session";

QString Param(const httplib::Request &request, const char *key)
{
    return QString::fromUtf8(request.get_param_value(key).c_str());
}

QString SessionToken(const httplib::Request &request)
{
    const std::string header = request.get_header_value("Cookie");
    std::size_t at = 0;
    while (at < header.size()) {
        const std::size_t end = std::min(header.find(';', at), header.size());
        std::string part = header.substr(at, end - at);
        part.erase(0, part.find_first_not_of(' '));
        if (part.compare(0, kCookie.size() + 1, kCookie + "=") == 0)
            return QString::fromLatin1(part.substr(kCookie.size() + 1).c_str());
        at = end + 1;
    }
    return {};
}

void Send(httplib::Response &response, int status, const QByteArray &body, const char *type)
{
    response.status = status;
    response.set_content(body.constData(), static_cast<std::size_t>(body.size()), type);
}

void SendHtml(httplib::Response &response, int status, const QByteArray &html)
{
    Send(response, status, html, "text/html; charset=utf-8");
}

void Redirect(httplib::Response &response, const char *to)
{
    response.status = 303;
    response.set_header("Location", to);
}

std::optional<qint64> IdParam(const httplib::Request &request)
{
    bool ok = false;
    const qint64 id = Param(request, "id").toLongLong(&ok);
    return ok && id > 0 ? std::optional<qint64>(id) : std::nullopt;
}

} // namespace

WebServer::WebServer(ServerSettings settings, RecordsSource &records, UserFile &users, GasTextLookup gasTexts)
    : settings_(std::move(settings)),
      records_(records),
      users_(users),
      gasTexts_(std::move(gasTexts))
{}

WebServer::~WebServer() = default;

bool WebServer::Bind(QString *error)
{
    const bool tls = !settings_.certFile.isEmpty();
    if (tls)
        server_ = std::make_unique<httplib::SSLServer>(settings_.certFile.toLocal8Bit().constData(),
                                                       settings_.keyFile.toLocal8Bit().constData());
    else
        server_ = std::make_unique<httplib::Server>();
    if (!server_->is_valid()) {
        *error =
            QStringLiteral("cannot use the certificate %1 with the key %2").arg(settings_.certFile, settings_.keyFile);
        return false;
    }
    const int threads = settings_.threads;
    // The library owns the queue it is handed.
    server_->new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
    server_->set_payload_max_length(kMaxBody);
    server_->set_read_timeout(10, 0);
    server_->set_write_timeout(10, 0);
    server_->set_keep_alive_timeout(5);
    server_->set_keep_alive_max_count(1000);
    httplib::Headers headers{
        {"Content-Security-Policy", "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
                                    "frame-ancestors 'none'; base-uri 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    };
    if (tls)
        headers.emplace("Strict-Transport-Security", "max-age=31536000");
    server_->set_default_headers(headers);
    Routes();
    const std::string host = settings_.host.toStdString();
    port_ = settings_.port == 0 ? server_->bind_to_any_port(host) : settings_.port;
    if (port_ <= 0 || (settings_.port != 0 && !server_->bind_to_port(host, settings_.port))) {
        *error = QStringLiteral("cannot listen on %1:%2").arg(settings_.host).arg(settings_.port);
        return false;
    }
    return true;
}

void WebServer::Run() { server_->listen_after_bind(); }

void WebServer::Stop()
{
    if (server_)
        server_->stop();
}

std::optional<QString> WebServer::LoggedIn(const httplib::Request &request)
{
    const QString token = SessionToken(request);
    if (token.isEmpty())
        return std::nullopt;
    std::optional<QString> user = sessions_.User(token);
    if (user && !users_.Has(*user)) {
        sessions_.EndUser(*user); // removed from the user file since
        return std::nullopt;
    }
    return user;
}

void WebServer::Routes()
{
    using Page = void (WebServer::*)(const httplib::Request &, httplib::Response &, const QString &);
    auto guarded = [this](Page page) {
        return [this, page](const httplib::Request &request, httplib::Response &response) {
            const std::optional<QString> user = LoggedIn(request);
            if (!user)
                return Redirect(response, "/login");
            (this->*page)(request, response, *user);
        };
    };
    server_->set_pre_routing_handler([](const httplib::Request &request, httplib::Response &response) {
        if (request.headers.size() <= kMaxHeaderFields)
            return httplib::Server::HandlerResponse::Unhandled;
        SendHtml(response, 431,
                 ProblemHtml({}, QStringLiteral("Request refused"),
                             QStringLiteral("The request has too many header fields.")));
        return httplib::Server::HandlerResponse::Handled;
    });
    server_->set_error_handler([](const httplib::Request &, httplib::Response &response) {
        if (!response.body.empty())
            return;
        const QString sentence = response.status == 404   ? QStringLiteral("There is no such page.")
                                 : response.status == 413 ? QStringLiteral("The request is too large.")
                                                          : QStringLiteral("The request cannot be answered.");
        SendHtml(response, response.status, ProblemHtml({}, QStringLiteral("Not here"), sentence));
    });
    server_->Get(R"(/style\.css)", [](const httplib::Request &, httplib::Response &response) {
        Send(response, 200, StyleSheet(), "text/css; charset=utf-8");
    });
    server_->Get("/login", [this](const httplib::Request &request, httplib::Response &response) {
        if (LoggedIn(request))
            return Redirect(response, "/");
        SendHtml(response, 200, LoginHtml({}));
    });
    server_->Post("/login",
                  [this](const httplib::Request &request, httplib::Response &response) { Login(request, response); });
    server_->Post("/logout",
                  [this](const httplib::Request &request, httplib::Response &response) { Logout(request, response); });
    server_->Get("/", guarded(&WebServer::Fleet));
    server_->Get("/instrument", guarded(&WebServer::Instrument));
    server_->Get(R"(/certificate\.pdf)", guarded(&WebServer::Certificate));
    server_->Get(R"(/chart\.svg)", guarded(&WebServer::Chart));
    server_->Get(R"(/due\.csv)", [this](const httplib::Request &request, httplib::Response &response) {
        if (!LoggedIn(request)) {
            Send(response, 401, QByteArrayLiteral("Log in first.\n"), "text/plain; charset=utf-8");
            return;
        }
        DueCsv(request, response);
    });
}

void WebServer::Login(const httplib::Request &request, httplib::Response &response)
{
    const QString address = QString::fromStdString(request.remote_addr);
    if (const qint64 wait = throttle_.Wait(address)) {
        SendHtml(
            response, 429,
            LoginHtml(QStringLiteral("Too many failed logins from your address: try again in %1 seconds.").arg(wait)));
        return;
    }
    const QString name = Param(request, "user");
    const QByteArray password = QByteArray::fromStdString(request.get_param_value("password"));
    if (!ValidUserName(name) || !users_.Check(name, password)) {
        throttle_.Failed(address);
        std::cerr << "r310web: failed login from " << request.remote_addr << " as "
                  << (ValidUserName(name) ? name.toStdString() : std::string("(not a user name)")) << std::endl;
        SendHtml(response, 401, LoginHtml(QStringLiteral("Wrong user or password.")));
        return;
    }
    throttle_.Succeeded(address);
    const QString token = sessions_.Start(name);
    std::string cookie = kCookie + "=" + token.toStdString() + "; Path=/; HttpOnly; SameSite=Strict";
    if (!settings_.certFile.isEmpty())
        cookie += "; Secure";
    response.set_header("Set-Cookie", cookie);
    Redirect(response, "/");
}

void WebServer::Logout(const httplib::Request &request, httplib::Response &response)
{
    sessions_.End(SessionToken(request));
    response.set_header("Set-Cookie", kCookie + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0");
    Redirect(response, "/login");
}

void WebServer::Problem(httplib::Response &response, int status, const QString &user, const QString &title,
                        const QString &sentence)
{
    SendHtml(response, status, ProblemHtml(user, title, sentence));
}

void WebServer::Fleet(const httplib::Request &request, httplib::Response &response, const QString &user)
{
    QString error;
    const std::shared_ptr<const FleetSnapshot> fleet = records_.Fleet(&error);
    if (!fleet)
        return Problem(response, 503, user, QStringLiteral("Records not available"), error);
    const FleetQuery query = ParseFleetQuery([&request](const char *key) { return Param(request, key); });
    const VerifyStatus verification = records_.Verification();
    SendHtml(response, 200,
             PageHtml(QStringLiteral("Fleet"), user, &verification, FleetBody(*fleet, query, settings_.soonDays)));
}

void WebServer::Instrument(const httplib::Request &request, httplib::Response &response, const QString &user)
{
    QString error;
    const std::shared_ptr<const FleetSnapshot> fleet = records_.Fleet(&error);
    records::RecordStore *store = fleet ? records_.Store(&error) : nullptr;
    if (!store)
        return Problem(response, 503, user, QStringLiteral("Records not available"), error);
    const QString serial = Param(request, "serial");
    const InstrumentPageResult page = InstrumentBody(*store, *fleet, serial, settings_.soonDays, gasTexts_);
    if (!page.found)
        return Problem(response, 404, user, QStringLiteral("Not on record"),
                       QStringLiteral("No instrument with this serial number is on record."));
    if (!page.error.isEmpty()) {
        records_.Drop();
        return Problem(response, 503, user, QStringLiteral("Records not available"), page.error);
    }
    const VerifyStatus verification = records_.Verification();
    SendHtml(response, 200, PageHtml(QStringLiteral("Instrument ") + serial, user, &verification, page.body));
}

void WebServer::Certificate(const httplib::Request &request, httplib::Response &response, const QString &user)
{
    QString error;
    records::RecordStore *store = records_.Store(&error);
    if (!store)
        return Problem(response, 503, user, QStringLiteral("Records not available"), error);
    const std::optional<qint64> id = IdParam(request);
    const std::optional<records::StoredRecord> record = id ? store->Record(*id, &error) : std::nullopt;
    if (!record || record->kind != records::kind::kCalibration)
        return Problem(response, 404, user, QStringLiteral("Not on record"),
                       QStringLiteral("No calibration with this record id is on record."));
    // The certificate names the user who recorded the calibration.
    const std::optional<records::CertificateData> data =
        records::CertificateFor(*store, record->serial, record->id, record->user, &error);
    if (!data)
        return Problem(response, 404, user, QStringLiteral("Not on record"), error);
    const QByteArray pdf = drawings_.CertificatePdf(*data);
    response.set_header("Content-Disposition",
                        "attachment; filename=\"certificate-" + std::to_string(record->id) + ".pdf\"");
    Send(response, 200, pdf, "application/pdf");
}

void WebServer::Chart(const httplib::Request &request, httplib::Response &response, const QString &user)
{
    const std::optional<qint64> id = IdParam(request);
    if (!id)
        return Problem(response, 404, user, QStringLiteral("Not on record"), QStringLiteral("No such download."));
    QByteArray svg = drawings_.KeptChart(*id);
    if (svg.isEmpty()) {
        QString error;
        records::RecordStore *store = records_.Store(&error);
        const std::optional<records::RecordedLog> log =
            store ? LoggerDownloadOf(*store, *id, gasTexts_, &error) : std::nullopt;
        if (!log)
            return Problem(response, 404, user, QStringLiteral("Not on record"), error);
        svg = drawings_.ChartSvg(*id, *log, QStringLiteral("Data logger download, record %1").arg(*id));
    }
    Send(response, 200, svg, "image/svg+xml");
}

void WebServer::DueCsv(const httplib::Request &request, httplib::Response &response)
{
    QString error;
    const std::shared_ptr<const FleetSnapshot> fleet = records_.Fleet(&error);
    if (!fleet) {
        Send(response, 503, (error + QLatin1Char('\n')).toUtf8(), "text/plain; charset=utf-8");
        return;
    }
    bool ok = false;
    int within = Param(request, "within").toInt(&ok);
    if (!ok || within < 0)
        within = settings_.soonDays;
    std::vector<records::InstrumentRow> rows;
    rows.reserve(fleet->rows().size());
    for (const records::FleetRow &row : fleet->rows())
        rows.push_back(row.instrument);
    const QStringList lines = records::DueCsvLines(records::DueItems(rows, fleet->today(), within));
    response.set_header("Content-Disposition", "attachment; filename=\"due.csv\"");
    Send(response, 200, (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8(),
         "text/csv; charset=utf-8");
}

} // namespace r310::web
