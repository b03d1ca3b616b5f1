#pragma once
// The command line of r310ctl: global options, the command, its options.
#include <QString>
#include <QStringList>

namespace r310::cli {

// The longest search bound that a timer can keep (about 23 days); 0 searches
// without a bound.
constexpr int kMaxTimeoutSeconds = 2000000;

struct CtlOptions {
    QString command;         // empty: none given
    QStringList operands;    // words after the command ("help info")
    QString port;            // --port DEVICE
    bool demo = false;       // --demo
    bool json = false;       // --json
    bool help = false;       // -h, --help
    bool verbose = false;    // -v, --verbose
    int timeoutSeconds = 10; // --timeout-s; 0 searches until interrupted
    int samples = 0;         // watch --samples; 0 until interrupted
    bool dryRun = false;     // set --dry-run: show the requests, write nothing
    bool trace = false;      // doctor --trace: every byte of the exchange
    bool yes = false;        // --yes: a command that changes the instrument's state may go ahead
    bool full = false;       // --full: a download reads everything, whatever is on record
    QString serial;          // factory-setup --serial N
    QString customerId;      // factory-setup --customer-id TEXT
    bool updateLimitList = false; // factory-setup --update-limit-list
    QString out;             // events, datalog --out FILE: the export file; empty: standard output
    QString max;             // clear events --max N, as typed
    QString log;             // profile apply --each --log FILE: a line per instrument
    QString records;         // --records URL: where the service records are kept
    bool noRecords = false;  // --no-records: nothing is recorded this run
    QString since;           // records history --since DATE
    bool events = false;     // records export --events
    bool datalog = false;    // records export --datalog
    QString download;        // records export --download ID: that download, not the latest
    QString lot;             // cylinders add --lot LOT
    QString gas;             // cylinders add --gas GAS (text or code)
    QString unit;            // cylinders add --unit UNIT (text or code)
    QString concentration;   // cylinders add --concentration X, as typed
    QString expires;         // cylinders add --expires YYYY-MM-DD
    QString balance;         // cylinders add --balance TEXT
    QString supplier;        // cylinders add --supplier TEXT
    QString cylinder;        // calibrate span --cylinder LOT, bump --cylinder LOT
    QString tolerance;       // calibrate --tolerance PCT, as typed
    bool force = false;      // set, profile apply --force: alarm limits in an unusual order
    QString technician;      // certificate --technician NAME
    QString calibration;     // certificate --calibration ID
    QString head;            // records verify --head TEXT: a head printed on a paper
    QString trustedKeys;     // records verify, certificate check --trusted-keys FILE
    QString name;            // records trust add --name NAME
    QString within;          // due --within DAYS, as typed
    QString csv;             // due --csv FILE
    QString from;            // plot --from DATETIME
    QString to;              // plot --to DATETIME
    QString size;            // plot --size WxH
    QString levels;          // plot, exposure --levels A1,A2,A3,STEL,TWA
    QStringList given;       // long names of the options given, for checks per command
};

struct ParsedCommandLine {
    bool ok = false;
    QString error; // one line, when not ok
    CtlOptions options;
};

// arguments include the program name.
ParsedCommandLine ParseCommandLine(const QStringList &arguments);

} // namespace r310::cli
