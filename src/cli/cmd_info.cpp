// r310ctl info: connect as the window does and show identity, clocks and value.
#include "ExitCodes.h"
#include "Report.h"
#include "Subcommands.h"

#include <QJsonDocument>

namespace r310::cli {

namespace {

// The clock line appears only when connecting had to set the clock.
QString ClockNote(InstrumentSession &session, int clockWrites)
{
    if (session.view().clockNotTaken)
        return QStringLiteral("differs from the PC's by %1 s; the instrument did not keep the time written")
            .arg(session.view().clockDifference);
    if (clockWrites > 0)
        return QStringLiteral("set from the PC's time");
    return {};
}

void PrintInfo(InstrumentSession &session, int clockWrites)
{
    TerminalView &view = session.view();
    Fields fields;
    if (view.identity)
        fields = IdentityFields(*view.identity);
    if (view.clock) {
        const Fields clock = ClockFields(*view.clock);
        fields.insert(fields.end(), clock.begin(), clock.end());
    }
    const QString note = ClockNote(session, clockWrites);
    if (!note.isEmpty())
        fields.push_back({QStringLiteral("Clock"), note});
    if (view.value)
        fields.push_back({QStringLiteral("Value"),
                          ValueWithGas(view.value->text, view.range ? view.range->gasText : QString())});
    // An instrument that went silent right after the connect answer leaves
    // nothing to show; the error line says why.
    if (fields.empty())
        return;
    QTextStream &out = session.out();
    out << "Instrument on " << session.PortLabel() << '\n';
    PrintFields(out, fields, 2);
}

void PrintInfoJson(InstrumentSession &session, int clockWrites)
{
    TerminalView &view = session.view();
    QJsonObject document{
        {QStringLiteral("port"), session.PortLabel()},
        {QStringLiteral("demo"), session.Demo()},
        {QStringLiteral("errorReports"), static_cast<int>(view.errorReports.size())},
    };
    if (view.identity) {
        document.insert(QStringLiteral("identity"), IdentityJson(*view.identity));
        document.insert(QStringLiteral("features"), GatesJson(view.identity->gates));
    }
    if (view.clock) {
        QJsonObject clock = ClockJson(*view.clock, view.clockDifference);
        clock.insert(QStringLiteral("writes"), clockWrites);
        clock.insert(QStringLiteral("kept"), !view.clockNotTaken);
        document.insert(QStringLiteral("clock"), clock);
    }
    if (view.value)
        document.insert(QStringLiteral("value"),
                        ValueJson(*view.value, view.range ? &*view.range : nullptr, session.gasTable()));
    session.out() << TerminalJson(QJsonDocument(document), QJsonDocument::Indented);
}

} // namespace

int RunInfo(CtlContext &context)
{
    InstrumentSession session(context.options, context.environment, *context.gasTable);
    // With the Range tab in front the connect sequence reads the range too,
    // which gives the live value its scale, unit and gas.
    if (const int code = session.OpenAndConnect(InstrumentTab::Range))
        return code;
    // The value read while connecting came before the range: read it again.
    int clockWrites = 0;
    if (const int code = session.Run([&clockWrites](JobContext &job) {
            job.sequences().ReadValue();
            clockWrites = job.sequences().ClockWrites();
        }))
        return code;

    const TerminalView &view = session.view();
    const bool complete = view.identity && view.clock && view.value && view.range;
    if (context.options.json)
        PrintInfoJson(session, clockWrites);
    else
        PrintInfo(session, clockWrites);
    session.out().flush();
    return session.Verdict(complete);
}

} // namespace r310::cli
