#include "PgCluster.h"

#include "TestApplication.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <algorithm>

#include <csignal>
#include <unistd.h>

namespace recordstest {

namespace {

// The newest server installation of the system's PostgreSQL packages.
QString ServerBinaries()
{
    const QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &version : versions) {
        const QString bin = root.filePath(version + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return {};
}

constexpr int kPort = 5432; // on a socket in our own folder: no other server shares it

} // namespace

PgCluster::PgCluster() : dir_(QDir::tempPath() + QStringLiteral("/r310pg-XXXXXX"))
{
    bin_ = ServerBinaries();
    if (bin_.isEmpty()) {
        problem_ = QStringLiteral("no PostgreSQL server binaries under /usr/lib/postgresql (package postgresql)");
        return;
    }
    if (!dir_.isValid()) {
        problem_ = QStringLiteral("no temporary folder");
        return;
    }
    // The server's user must reach the folder and make its socket there.
    QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                           | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther
                                           | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup);
    const QString data = dir_.filePath(QStringLiteral("data"));
    QString output;
    if (!Run(QStringLiteral("initdb"), {QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("r310"),
                                        QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("--no-sync"),
                                        QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C")},
             &output)) {
        problem_ = QStringLiteral("initdb failed: ") + output;
        return;
    }
    const QString options = QStringLiteral("-k %1 -c listen_addresses='' -p %2 -c fsync=off -c max_connections=40")
                                .arg(dir_.path())
                                .arg(kPort);
    if (!Run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data, QStringLiteral("-o"), options, QStringLiteral("-l"),
                                        dir_.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                                        QStringLiteral("start")},
             &output)) {
        problem_ = QStringLiteral("pg_ctl start failed: ") + output;
        return;
    }
    started_ = true;
}

PgCluster::~PgCluster()
{
    if (started_)
        Run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")),
                                       QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("-w"),
                                       QStringLiteral("stop")});
}

bool PgCluster::Run(const QString &tool, const QStringList &arguments, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QString program = bin_ + u'/' + tool;
    if (geteuid() == 0)
        process.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                                             QStringLiteral("--"), program}
                                                     + arguments);
    else
        process.start(program, arguments);
    const bool finished = process.waitForFinished(60000);
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool PgCluster::CreateDatabase(const QString &name)
{
    return Run(QStringLiteral("createdb"), {QStringLiteral("-h"), dir_.path(), QStringLiteral("-p"),
                                            QString::number(kPort), QStringLiteral("-U"), QStringLiteral("r310"),
                                            name});
}

QString PgCluster::Url(const QString &database, const QString &user) const
{
    return QStringLiteral("postgresql://%1@localhost:%2/%3?host=%4").arg(user).arg(kPort).arg(database, dir_.path());
}

r310::records::RecordsTarget PgCluster::Target(const QString &database) const
{
    return r310::records::ParseRecordsUrl(Url(database)).target;
}

std::vector<qint64> PgCluster::ServerPids() const
{
    QFile pidFile(dir_.filePath(QStringLiteral("data/postmaster.pid")));
    if (!pidFile.open(QIODevice::ReadOnly))
        return {};
    const qint64 postmaster = pidFile.readLine().trimmed().toLongLong();
    std::vector<qint64> pids{postmaster};
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold blanks, so read after its ')'.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == postmaster)
            pids.push_back(entry.toLongLong());
    }
    return pids;
}

ServerStopped::ServerStopped(const PgCluster &cluster) : pids_(cluster.ServerPids())
{
    for (const qint64 pid : pids_)
        ::kill(static_cast<pid_t>(pid), SIGSTOP);
}

ServerStopped::~ServerStopped()
{
    for (const qint64 pid : pids_)
        ::kill(static_cast<pid_t>(pid), SIGCONT);
}

void StoreTest::SetUpTestSuite()
{
    r310test::EnsureApplication();
    homes_ = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", homes_->filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", homes_->filePath(QStringLiteral("data")).toUtf8());
    cluster_ = std::make_unique<PgCluster>();
}

void StoreTest::TearDownTestSuite()
{
    cluster_.reset();
    homes_.reset();
}

void StoreTest::SetUp()
{
    r310::records::RecordsTarget target;
    if (QLatin1String(GetParam()) == QLatin1String("postgresql")) {
        if (!cluster_->problem().isEmpty())
            GTEST_SKIP() << "no PostgreSQL server for this test: " << cluster_->problem().toStdString();
        const QString name = QStringLiteral("records%1").arg(++databases_);
        ASSERT_TRUE(cluster_->CreateDatabase(name));
        target = cluster_->Target(name);
    } else {
        const QString file = dir_.filePath(QStringLiteral("records.sqlite"));
        target = r310::records::ParseRecordsUrl(QStringLiteral("sqlite:") + file).target;
    }
    QString error;
    store_ = r310::records::RecordStore::Open(target, &error);
    ASSERT_TRUE(store_) << error.toStdString();
}

} // namespace recordstest
