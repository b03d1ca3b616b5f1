#pragma once
// A private PostgreSQL server for the record tests: a cluster made with
// initdb in a temporary folder, started with pg_ctl on a Unix socket there
// (no TCP port), with one database, stopped and removed at the end. When
// the tests run as root the server runs as the system user "postgres",
// since PostgreSQL refuses to run as root.
#include <RecordStore.h>
#include <RecordsLocation.h>

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace recordstest {

class PgCluster {
public:
    PgCluster();
    ~PgCluster();
    PgCluster(const PgCluster &) = delete;
    PgCluster &operator=(const PgCluster &) = delete;

    // Empty when the server runs; else why not (binaries missing, start failed).
    QString problem() const { return problem_; }
    // A new empty database on the server.
    bool CreateDatabase(const QString &name);
    // postgresql://USER@localhost:5432/NAME?host=SOCKETDIR (USER r310, the owner, by default)
    QString Url(const QString &database, const QString &user = QStringLiteral("r310")) const;
    // The server's processes: the postmaster and its children (to stop them as a hung server).
    std::vector<qint64> ServerPids() const;
    r310::records::RecordsTarget Target(const QString &database) const;

private:
    bool Run(const QString &tool, const QStringList &arguments, QString *output = nullptr);

    QTemporaryDir dir_;
    QString bin_;
    bool started_ = false;
    QString problem_;
};

// The server's processes stopped (SIGSTOP), as a server behaves that hangs,
// until this goes out of scope.
class ServerStopped {
public:
    explicit ServerStopped(const PgCluster &cluster);
    ~ServerStopped();
    ServerStopped(const ServerStopped &) = delete;
    ServerStopped &operator=(const ServerStopped &) = delete;

private:
    std::vector<qint64> pids_;
};

// A test of the record store, run once on an SQLite file (parameter
// "sqlite") and once on a new database of the private PostgreSQL server
// (parameter "postgresql", skipped where no server could be started).
class StoreTest : public ::testing::TestWithParam<const char *> {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    QTemporaryDir dir_;
    std::unique_ptr<r310::records::RecordStore> store_;
    static inline std::unique_ptr<PgCluster> cluster_;
    // The configuration and data folders (keys, trusted keys, spool) of the tests.
    static inline std::unique_ptr<QTemporaryDir> homes_;
    static inline int databases_ = 0;
};

} // namespace recordstest
