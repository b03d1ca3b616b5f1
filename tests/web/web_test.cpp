// r310web as its users meet it: started on a loopback port over records
// that r310ctl made against the simulator program (and a few written
// straight to the store, with hostile texts), on SQLite and on the private
// PostgreSQL server; requests through an HTTP client, raw bytes and a real
// headless Chromium whose screenshots are kept for a person to look at.
#include "Chromium.h"
#include "WebProcess.h"

#include <TestApplication.h>

#include <CliProcess.h>
#include <PgCluster.h>
#include <RecordStore.h>

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using namespace Qt::StringLiterals;

using clitest::Words;
using webtest::WebProcess;
using webtest::WebRun;
namespace records = r310::records;

const QByteArray kPassword = "correct horse battery";
const QString kDay = QDate::currentDate().addDays(-3).toString(Qt::ISODate);

// Records made once for every test: two instruments by r310ctl against the
// simulator (one overdue, with a customer ID of markup, a calibration and a
// logger download) and one written straight to the store with hostile texts.
class Web : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        clitest::EnsureApplication();
        dir_ = std::make_unique<QTemporaryDir>();
        records_ = u"sqlite:"_s + dir_->filePath(u"records.sqlite"_s);
        users_ = dir_->filePath(u"users"_s);
        const QProcessEnvironment env = clitest::CtlEnvironment(dir_->path());
        auto ctl = [&env](clitest::SimProcess &sim, const QStringList &words) {
            const clitest::CtlRun run = clitest::RunProgram(
                clitest::CtlProgram(), QStringList{u"--records"_s, records_, u"--port"_s, sim.device()} + words, env,
                std::chrono::seconds(120));
            EXPECT_EQ(run.exitCode, 0) << words.join(u' ').toStdString() << ": " << run.err.toStdString();
        };
        clitest::SimProcess overdue(Words("--serial=4711 --customer_id=<script> --software=221 --exponent=-1 "
                                          "--logger_blocks=20 --next_bump_in=-3 --no-pacing"));
        ctl(overdue, Words("get"));
        ctl(overdue, Words("calibrate span 50"));
        ctl(overdue, QStringList{u"datalog"_s, u"--out"_s, dir_->filePath(u"log.csv"_s)});
        clitest::SimProcess inDate(Words("--serial=1001 --customer_id=Halle-1 --next_cal_in=40 --no-pacing"));
        ctl(inDate, Words("get"));
        QString error;
        const auto store = records::RecordStore::Open(records::ParseRecordsUrl(records_).target, &error);
        ASSERT_TRUE(store) << error.toStdString();
        EXPECT_TRUE(store
                        ->Append(u"00006666"_s, records::kind::kConnection,
                                 {{u"customerId"_s, u"<b>\"x'&\x07"_s},
                                  {u"gasUnit"_s, u"<img src=x onerror=alert(1)>\x1b[31m"_s}})
                        .ok);
        const WebRun added = webtest::RunWeb(Words("--users") << users_ << Words("user add manager"), kPassword + '\n');
        EXPECT_EQ(added.exitCode, 0) << added.err.toStdString();
    }
    static void TearDownTestSuite() { dir_.reset(); }

    static inline std::unique_ptr<QTemporaryDir> dir_;
    static inline QString records_, users_;
};

TEST_F(Web, WithoutALoginEveryPageGoesToTheLoginPageAndStrangePathsAreNotFound)
{
    WebProcess web(records_, users_);
    ASSERT_NE(web.port(), 0) << web.output().toStdString();
    const std::pair<const char *, int> answers[] = {{"/", 303},
                                                    {"/instrument?serial=00004711", 303},
                                                    {"/certificate.pdf?id=1", 303},
                                                    {"/chart.svg?id=1", 303},
                                                    {"/due.csv", 401},
                                                    {"/login", 200},
                                                    {"/style.css", 200},
                                                    {"/nothing", 404},
                                                    {"/style.css/../users", 404}};
    for (const auto &[path, status] : answers) {
        const WebProcess::Answer res = web.Get(path);
        EXPECT_EQ(res.status, status) << path;
        if (status == 303)
            EXPECT_EQ(res.header("Location"), "/login") << path;
        const std::string policy = res.header("Content-Security-Policy");
        EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos) << path;
        EXPECT_EQ(policy.find("unsafe-inline"), std::string::npos) << path;
        EXPECT_EQ(res.header("X-Content-Type-Options"), "nosniff") << path;
    }
    for (const char *path : {"/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/..%2fusers", "//etc/passwd"})
        EXPECT_EQ(webtest::RawStatus(web.port(), std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\n\r\n"),
                  "HTTP/1.1 404 Not Found")
            << path;
}

TEST_F(Web, ALoginShowsTheFleetTheInstrumentItsCertificateChartAndTheDueListWithHostileTextsAsText)
{
    WebProcess web(records_, users_);
    ASSERT_NE(web.port(), 0) << web.output().toStdString();
    const httplib::Result login =
        web.client()->Post("/login", httplib::Params{{"user", "manager"}, {"password", kPassword.toStdString()}});
    ASSERT_TRUE(login);
    ASSERT_EQ(login->status, 303);
    const std::string setCookie = login->get_header_value("Set-Cookie");
    EXPECT_NE(setCookie.find("; HttpOnly"), std::string::npos) << setCookie;
    EXPECT_NE(setCookie.find("; SameSite=Strict"), std::string::npos) << setCookie;
    EXPECT_EQ(setCookie.find("Secure"), std::string::npos) << "no Secure without TLS: " << setCookie;
    const std::string cookie = setCookie.substr(0, setCookie.find(';'));

    const std::string fleet = web.Get("/", cookie).body;
    for (const std::string &part :
         {std::string("<tr class=\"overdue\"><td class=\"serial\"><a href=\"/instrument?serial=00004711\">"),
          std::string("&lt;script&gt;"), "<td class=\"overdue\">" + kDay.toStdString() + " overdue</td>",
          std::string("Halle-1"), std::string("<div class=\"banner"), std::string("<td class=\"soon\">")})
        EXPECT_NE(fleet.find(part), std::string::npos) << part << "\n" << fleet;
    EXPECT_EQ(fleet.find("<script>"), std::string::npos);
    const std::string filtered = web.Get("/?q=halle&sort=nextcal&order=desc", cookie).body;
    EXPECT_NE(filtered.find("00001001"), std::string::npos);
    EXPECT_EQ(filtered.find("00004711"), std::string::npos);

    const std::string page = web.Get("/instrument?serial=00004711", cookie).body;
    const std::size_t link = page.find("/certificate.pdf?id=");
    ASSERT_NE(link, std::string::npos) << page;
    for (const char *part : {"span 50", "/chart.svg?id=", "Peak", "settings", "connection"})
        EXPECT_NE(page.find(part), std::string::npos) << part;
    const std::string id = page.substr(link + 20, page.find('"', link) - link - 20);
    const WebProcess::Answer pdf = web.Get("/certificate.pdf?id=" + id, cookie);
    ASSERT_EQ(pdf.status, 200);
    const QString pdfPath = dir_->filePath(u"certificate.pdf"_s);
    ASSERT_TRUE(r310test::WriteFile(pdfPath, QByteArray::fromStdString(pdf.body)));
    QProcess text;
    text.start(u"pdftotext"_s, {pdfPath, u"-"_s});
    ASSERT_TRUE(text.waitForFinished(30000));
    EXPECT_TRUE(QString::fromUtf8(text.readAllStandardOutput()).contains(QLatin1String("00004711")));
    const std::size_t chart = page.find("/chart.svg?id=");
    const WebProcess::Answer svg = web.Get(page.substr(chart, page.find('"', chart) - chart), cookie);
    EXPECT_EQ(svg.header("Content-Type"), "image/svg+xml");
    EXPECT_NE(svg.body.find("<svg"), std::string::npos);
    EXPECT_EQ(web.Get("/instrument?serial=99999999", cookie).status, 404);
    EXPECT_EQ(web.Get("/certificate.pdf?id=../../users", cookie).status, 404);

    const std::string csv = web.Get("/due.csv", cookie).body;
    EXPECT_NE(csv.find("00004711,<script>,bump test," + kDay.toStdString() + ",3"), std::string::npos) << csv;

    // Hostile records: markup, quotes and control characters shown as the characters they are.
    for (const std::string &path : {std::string("/"), std::string("/instrument?serial=00006666")}) {
        const std::string hostile = web.Get(path, cookie).body;
        EXPECT_NE(hostile.find("&lt;b&gt;&quot;x&#39;&amp;\\x07"), std::string::npos) << path << hostile;
        EXPECT_NE(hostile.find("&lt;img src=x onerror=alert(1)&gt;\\x1b[31m"), std::string::npos) << path;
        for (const char *raw : {"<b>", "<img src=x", "\x07", "\x1b"})
            EXPECT_EQ(hostile.find(raw), std::string::npos) << path << " " << raw;
    }

    const httplib::Result out = web.client()->Post("/logout", httplib::Headers{{"Cookie", cookie}}, "", "text/plain");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->status, 303);
    EXPECT_EQ(web.Get("/", cookie).status, 303) << "the session ended with the logout";
}

TEST_F(Web, OversizedRequestsWrongPasswordsAndOpenAddressesAreRefused)
{
    WebProcess web(records_, users_);
    ASSERT_NE(web.port(), 0) << web.output().toStdString();
    const std::string big(10 * 1024 * 1024, 'x');
    EXPECT_EQ(webtest::RawStatus(
                  web.port(), "POST /login HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                              "Content-Length: "
                                  + std::to_string(big.size()) + "\r\n\r\n" + big),
              "HTTP/1.1 413 Payload Too Large");
    std::string fields = "GET /login HTTP/1.1\r\nHost: x\r\n";
    for (int n = 0; n < 100; ++n)
        fields += "X-Field-" + std::to_string(n) + ": y\r\n";
    EXPECT_EQ(webtest::RawStatus(web.port(), fields + "\r\n").substr(0, 12), "HTTP/1.1 431");
    EXPECT_EQ(webtest::RawStatus(web.port(),
                                 "GET /login HTTP/1.1\r\nHost: x\r\nX-Long: " + std::string(20000, 'y') + "\r\n\r\n")
                  .substr(0, 12),
              "HTTP/1.1 400");

    int slowed = 0;
    for (int n = 0; n < 10; ++n) {
        const httplib::Result res =
            web.client()->Post("/login", httplib::Params{{"user", "manager"}, {"password", "wrong"}});
        ASSERT_TRUE(res);
        EXPECT_TRUE(res->status == 401 || res->status == 429) << res->status;
        EXPECT_TRUE(res->get_header_value("Set-Cookie").empty());
        slowed += res->status == 429;
    }
    EXPECT_GT(slowed, 0);
    EXPECT_TRUE(web.Login("manager", kPassword.toStdString()).empty())
        << "the address must wait, even with the right password";

    const WebRun open = webtest::RunWeb(QStringList{u"--records"_s, records_, u"--listen"_s, u"0.0.0.0:0"_s});
    EXPECT_EQ(open.exitCode, 2);
    EXPECT_TRUE(open.err.contains(QLatin1String("--insecure-listen"))) << open.err.toStdString();
}

TEST_F(Web, UsersAreAddedHashedListedAndRemovedWithTheirSessions)
{
    const QString users = dir_->filePath(u"users-own"_s);
    const QStringList on = QStringList{u"--users"_s, users, u"user"_s};
    EXPECT_EQ(webtest::RunWeb(on + Words("add ab"), "short\n").exitCode, 2);
    EXPECT_EQ(webtest::RunWeb(on + Words("add a/b"), kPassword + '\n').exitCode, 2);
    ASSERT_EQ(webtest::RunWeb(on + Words("add anna"), kPassword + '\n').exitCode, 0);
    ASSERT_EQ(webtest::RunWeb(on + Words("add ben"), kPassword + '\n').exitCode, 0);
    EXPECT_EQ(webtest::RunWeb(on + Words("list")).out, u"anna\nben\n"_s);
    const QByteArray content = r310test::ReadAll(users);
    EXPECT_TRUE(content.startsWith("anna:$argon2id$")) << content.toStdString();
    EXPECT_FALSE(content.contains(kPassword));
    struct stat info {};
    ASSERT_EQ(stat(users.toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    WebProcess web(records_, users);
    const std::string cookie = web.Login("ben", kPassword.toStdString());
    ASSERT_EQ(web.Get("/", cookie).status, 200);
    ASSERT_EQ(webtest::RunWeb(on + Words("remove ben")).exitCode, 0);
    EXPECT_EQ(web.Get("/", cookie).status, 303) << "a removed user's session ends";
    EXPECT_EQ(webtest::RunWeb(on + Words("list")).out, u"anna\n"_s);
}

TEST_F(Web, PostgreSqlRecordsAreServedAndNeitherStoreCanBeWrittenThroughIt)
{
    recordstest::PgCluster cluster;
    ASSERT_TRUE(cluster.problem().isEmpty())
        << "PostgreSQL is needed (scripts/setup.sh installs it): " << cluster.problem().toStdString();
    ASSERT_TRUE(cluster.CreateDatabase(u"web"_s));
    QString error;
    {
        const auto writer = records::RecordStore::Open(cluster.Target(u"web"_s), &error);
        ASSERT_TRUE(writer) << error.toStdString();
        ASSERT_TRUE(writer->Append(u"00000815"_s, records::kind::kConnection, {{u"customerId"_s, u"Lager Süd"_s}}).ok);
    }
    WebProcess web(cluster.Url(u"web"_s), users_);
    const std::string cookie = web.Login("manager", kPassword.toStdString());
    ASSERT_FALSE(cookie.empty()) << web.output().toStdString();
    EXPECT_NE(web.Get("/", cookie).body.find("Lager Süd"), std::string::npos);

    for (records::RecordsTarget target : {cluster.Target(u"web"_s), records::ParseRecordsUrl(records_).target}) {
        target.readOnly = true;
        const auto reader = records::RecordStore::Open(target, &error);
        ASSERT_TRUE(reader) << error.toStdString();
        EXPECT_FALSE(reader->Append(u"00000815"_s, records::kind::kConnection, {}).ok) << target.text().toStdString();
    }
}

TEST_F(Web, UnderTlsTheCookieIsSecureAndAChangedRecordShowsInTheBanner)
{
    const QString copy = dir_->filePath(u"changed.sqlite"_s);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"changed"_s);
        db.setDatabaseName(records::ParseRecordsUrl(records_).target.path);
        ASSERT_TRUE(db.open());
        EXPECT_TRUE(QSqlQuery(db).exec(u"VACUUM INTO '%1'"_s.arg(copy)));
        db.close();
        db.setDatabaseName(copy);
        ASSERT_TRUE(db.open());
        EXPECT_TRUE(QSqlQuery(db).exec(u"UPDATE r310_record SET body = replace(body, 'Halle-1', 'Halle-2')"_s));
    }
    QSqlDatabase::removeDatabase(u"changed"_s);
    const QString key = dir_->filePath(u"key.pem"_s), cert = dir_->filePath(u"cert.pem"_s);
    QProcess openssl;
    openssl.setStandardErrorFile(QProcess::nullDevice());
    openssl.start(u"openssl"_s,
                  QStringList{u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-days"_s, u"1"_s,
                              u"-subj"_s, u"/CN=localhost"_s, u"-keyout"_s, key, u"-out"_s, cert});
    ASSERT_TRUE(openssl.waitForFinished(60000) && openssl.exitCode() == 0) << "openssl makes the test certificate";
    WebProcess web(u"sqlite:"_s + copy, users_, QStringList{u"--cert"_s, cert, u"--key"_s, key});
    ASSERT_NE(web.port(), 0) << web.output().toStdString();
    httplib::SSLClient client("127.0.0.1", web.port());
    client.enable_server_certificate_verification(false);
    const httplib::Result login =
        client.Post("/login", httplib::Params{{"user", "manager"}, {"password", kPassword.toStdString()}});
    ASSERT_TRUE(login);
    const std::string cookie = login->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("; Secure"), std::string::npos) << cookie;
    std::string page;
    // The first verification runs beside the first requests.
    for (int tries = 0; tries < 100 && (page.empty() || page.find("for the first time") != std::string::npos);
         ++tries) {
        QThread::msleep(tries ? 100 : 0);
        const httplib::Result fleet = client.Get("/", httplib::Headers{{"Cookie", cookie.substr(0, cookie.find(';'))}});
        ASSERT_TRUE(fleet);
        EXPECT_FALSE(fleet->get_header_value("Strict-Transport-Security").empty());
        page = fleet->body;
    }
    EXPECT_NE(page.find("<div class=\"banner warning\">Records last verified"), std::string::npos) << page;
    EXPECT_NE(page.find("NOT INTACT: "), std::string::npos);
}

TEST_F(Web, ChromiumLogsInAndShowsTheOverdueRowInRed)
{
    WebProcess web(records_, users_);
    ASSERT_NE(web.port(), 0) << web.output().toStdString();
    webtest::Chromium browser;
    ASSERT_TRUE(browser.problem().isEmpty()) << browser.problem().toStdString();
    const QString base = QString::fromStdString(web.base());
    ASSERT_TRUE(browser.Open(base + u"/"_s));
    ASSERT_TRUE(browser.Type(u"#user"_s, u"manager"_s));
    ASSERT_TRUE(browser.Type(u"#password"_s, QString::fromUtf8(kPassword)));
    ASSERT_TRUE(browser.PressEnterAndWait());
    const QJsonArray cookies = browser.Cookies();
    ASSERT_EQ(cookies.size(), 1);
    EXPECT_TRUE(cookies[0][u"httpOnly"_s].toBool());
    EXPECT_EQ(cookies[0][u"sameSite"_s].toString(), u"Strict"_s);

    // Kept beside the test program for a person to look at.
    const QString shots = QDir(QCoreApplication::applicationDirPath()).filePath(u"web-shots"_s);
    QDir().mkpath(shots);
    auto keep = [&shots](const char *name, const QByteArray &png) {
        EXPECT_TRUE(r310test::WriteFile(shots + QLatin1Char('/') + QLatin1String(name), png)) << name;
    };
    const QByteArray fleet = browser.Screenshot();
    keep("fleet.png", fleet);
    const QImage image = QImage::fromData(fleet, "PNG");
    ASSERT_FALSE(image.isNull());
    int red = 0; // the overdue cells' background, #f8c9c9
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            red += image.pixelColor(x, y) == QColor(0xf8, 0xc9, 0xc9);
    EXPECT_GT(red, 500) << "the overdue row is drawn in red";

    ASSERT_TRUE(browser.Open(base + u"/instrument?serial=00004711"_s));
    keep("instrument.png", browser.Screenshot());
}

} // namespace
