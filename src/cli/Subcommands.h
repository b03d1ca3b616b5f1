#pragma once
// r310ctl is a table of subcommands. A new command is one row here and one
// function in a file of its own.
#include "CtlOptions.h"
#include "InstrumentSession.h"

#include <QStringList>
#include <QTextStream>

#include <memory>
#include <optional>
#include <vector>

namespace r310 {
class GasTable;
}
namespace r310::records {
class RecordStore;
struct TrustedKey;
struct InstrumentSummary;
}

namespace r310::cli {

// What a command gets to work with.
struct CtlContext {
    const CtlOptions &options;
    CtlEnvironment &environment;
    const GasTable *gasTable; // bound at start; null only for commands that do not bind it

    QTextStream &out() const { return environment.out; }
    QTextStream &err() const { return environment.err; }
    // Writes "r310ctl: message" to standard error and returns code.
    int Fail(int code, const QString &message) const;
};

using CommandRunner = int (*)(CtlContext &context);

struct Subcommand {
    const char *name;
    const char *summary;        // one line for the overview
    const char *help;           // usage line and description, for "COMMAND --help"
    QStringList options;        // long option names accepted beside --help
    bool bindsGasTable;         // the gas table library is bound before it runs
    CommandRunner run;
    bool takesOperands = false; // words after the command are its own (set KEY=VALUE)
};

const std::vector<Subcommand> &Subcommands();
const Subcommand *FindSubcommand(const QString &name);

// The whole program: parses the arguments (program name first), runs the
// command and returns the exit code.
int RunCtl(const QStringList &arguments, CtlEnvironment &environment);

// Text of "r310ctl --help".
QString OverviewHelp();

// The commands.
int RunHelp(CtlContext &context);
int RunPorts(CtlContext &context);
// Checks the way from the USB adapter to the instrument; its help text is in its own file.
int RunDoctor(CtlContext &context);
extern const char *const kDoctorHelp;
int RunInfo(CtlContext &context);
int RunGet(CtlContext &context);
int RunWatch(CtlContext &context);
// The event log (cmd_events.cpp) and the emptying of the logs (cmd_clear.cpp,
// a row per log); their help texts are in their own files.
int RunEvents(CtlContext &context);
extern const char *const kEventsHelp;
int RunClear(CtlContext &context);
extern const char *const kClearHelp;
// The options of every log "clear" empties, for its row.
QStringList ClearOptions();
// The data logger (cmd_datalog.cpp): its download, its row of "clear" and
// the logger-interval key of "set"; the help text is in its own file.
int RunDatalog(CtlContext &context);
extern const char *const kDatalogHelp;
int RunClearDatalog(CtlContext &context);
bool IsLoggerIntervalAssignment(const QString &word);
int RunSetLoggerInterval(CtlContext &context, const QString &word);
int RunSet(CtlContext &context);
// Settings profiles (cmd_profile.cpp); the help text is in its own file.
int RunProfile(CtlContext &context);
extern const char *const kProfileHelp;
int RunSetTime(CtlContext &context);
// Export files read back (cmd_exposure.cpp, cmd_plot.cpp): no instrument.
int RunExposure(CtlContext &context);
extern const char *const kExposureHelp;
int RunPlot(CtlContext &context);
extern const char *const kPlotHelp;
// The command needs the window system's drawing (a picture is rendered).
bool CommandDraws(const QStringList &arguments);
// The commands that make the instrument act or change its identity; each
// keeps its help text in its own file.
int RunCalibrate(CtlContext &context);
extern const char *const kBumpHelp;
int RunBump(CtlContext &context);
int RunHornCheck(CtlContext &context);
int RunFunction(CtlContext &context);
int RunFactorySetup(CtlContext &context);
extern const char *const kCalibrateHelp;
extern const char *const kHornCheckHelp;
extern const char *const kFunctionHelp;
extern const char *const kFactorySetupHelp;
// The service records (cmd_records.cpp).
int RunRecords(CtlContext &context);
extern const char *const kRecordsHelp;
// The cylinder register (cmd_cylinders.cpp), calibration certificates
// (cmd_certificate.cpp), what falls due (cmd_due.cpp) and the fleet report
// (cmd_report.cpp).
int RunCylinders(CtlContext &context);
int RunCertificate(CtlContext &context);
int RunDue(CtlContext &context);
int RunReport(CtlContext &context);
extern const char *const kCylindersHelp;
extern const char *const kCertificateHelp;
extern const char *const kDueHelp;
extern const char *const kReportHelp;
// The records of --records (or the default), for the commands that read or
// keep them without an instrument; null after saying why, with *code.
std::unique_ptr<records::RecordStore> OpenRecordStore(CtlContext &context, int *code);
// The records for a --cylinder of a calibration or bump test: refused with
// a usage error under --no-records, else OpenRecordStore.
std::unique_ptr<records::RecordStore> OpenCylinderRecords(CtlContext &context, int *code);
// The keys whose signatures count: those of --trusted-keys FILE (which must
// exist), else of the trusted-keys file in the configuration folder; none
// when neither lists any. False with *error for a file that cannot be read.
bool TrustedKeys(CtlContext &context, std::optional<std::vector<records::TrustedKey>> *keys, QString *error);
// Every instrument on record, for due and the fleet report; empty after
// saying why, with *code.
std::optional<std::vector<records::InstrumentSummary>> InstrumentsOnRecord(CtlContext &context, int *code);
// The commands that print PDFs need Qt's paint system (a GUI application).
bool PrintsPdf(const QString &command);

} // namespace r310::cli
