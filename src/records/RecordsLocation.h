#pragma once
// Where the service records are kept: a SQLite file on this PC (the
// default, in the user's data folder) or a PostgreSQL database shared by a
// fleet's workstations. Chosen by --records URL, the environment variable
// R310_RECORDS or the window's setting, in that order; --no-records keeps
// nothing for one run.
//
//   sqlite:PATH, or a plain PATH             a SQLite file, created on first use
//   postgresql://USER@HOST:PORT/DB           a PostgreSQL database
//   postgresql://USER@/DB?host=/socket/dir   the same through a Unix socket
//
// Passwords never come from here: the PostgreSQL client library finds them
// in ~/.pgpass or PGPASSWORD.
#include <QString>

namespace r310::records {

struct RecordsTarget {
    enum class Kind { None, Sqlite, Postgres };
    Kind kind = Kind::None;
    QString path;     // SQLite file
    QString user;     // PostgreSQL
    QString host;     // a host name, or the folder of a Unix socket
    int port = 5432;
    QString database;
    // Opened only to read: a SQLite file read-only, a PostgreSQL session
    // whose transactions are read-only; an older schema is not migrated.
    bool readOnly = false;

    bool enabled() const { return kind != Kind::None; }
    // For messages: the file, or "postgresql://user@host:port/db".
    QString text() const;
};

struct RecordsChoice {
    RecordsTarget target;
    QString error; // a URL that names no database; empty when the target holds
    // The records of a run on the built-in simulated instrument, kept apart from the user's.
    bool demo = false;
    bool ok() const { return error.isEmpty(); }
};

// The name of the environment variable.
inline const char *const kRecordsVariable = "R310_RECORDS";

// The file of the default: records.sqlite in the window's data folder.
QString DefaultRecordsPath();

// Where runs on the built-in simulated instrument (--demo) keep their
// records, never the user's: a file in the login session's runtime folder
// ($XDG_RUNTIME_DIR, else the temporary folder), gone when the session ends.
QString DemoRecordsPath();
// The URL with any password in it replaced by "***", for messages.
QString WithoutPassword(const QString &url);

// Parses one URL as described above.
RecordsChoice ParseRecordsUrl(const QString &url);

// The choice for a run: none when noRecords; else the option, else the
// environment variable, else the setting, else the default file.
RecordsChoice ChooseRecords(const QString &option, bool noRecords, const QString &setting = {});

} // namespace r310::records
