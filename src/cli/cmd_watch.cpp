// r310ctl watch: the idle poll on the terminal. Clock and live value about
// once a second; a lost instrument is reported, searched for and found again.
#include "ExitCodes.h"
#include "ReadSequences.h"
#include "Report.h"
#include "Subcommands.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>

namespace r310::cli {

namespace {

// Values without a known range have no scale, unit or gas. The range is read
// again this many times before watching gives up on the instrument.
constexpr int kRangeReadsForValues = 3;

class Watcher {
public:
    Watcher(InstrumentSession &session, int samples, bool json)
        : session_(session), samplesLeft_(samples), json_(json)
    {
    }

    void Answer(const DecodedAnswer &answer)
    {
        const TerminalView &view = session_.view();
        if (answer.errorReport) {
            rangeErrorReported_ = rangeRequested_;
            Event(QStringLiteral("errorReport"),
                  QStringLiteral("the instrument answered the request for object %1 with an error report")
                      .arg(view.errorReports.empty() ? 0 : view.errorReports.back().requestObject));
        }
        if (answer.range) {
            rangeRequested_ = false;
            rangeReads_ = 0;
        }
        if (!answer.value)
            return;
        if (!view.range) {
            AskForRange();
            return;
        }
        if (json_) {
            QJsonObject line{{QStringLiteral("value"), ValueJson(*view.value, &*view.range, session_.gasTable())}};
            if (view.clock)
                line.insert(QStringLiteral("clock"), ClockJson(*view.clock, view.clockDifference));
            Print(line);
        } else {
            const QString time = view.clock ? VisibleText(view.clock->instrumentText) : QStringLiteral("-");
            session_.out() << time << "  " << VisibleText(ValueWithGas(view.value->text, view.range->gasText)) << Qt::endl;
        }
        if (samplesLeft_ > 0 && --samplesLeft_ == 0)
            finished.quit();
        EndWhenOutputFails();
    }

    void Phase(ConnectionPhase phase)
    {
        if (phase == ConnectionPhase::Lost && !lost_) {
            lost_ = true;
            Event(QStringLiteral("lost"), QStringLiteral("instrument not answering; searching ..."));
        } else if (phase == ConnectionPhase::Connected && lost_) {
            lost_ = false;
            Event(QStringLiteral("found"), QStringLiteral("instrument answering again"));
        }
    }

    QEventLoop finished;
    // Set when watching ended because the range never came.
    int exitCode = kExitOk;

private:
    // A value came before any range (the range answer of the connect
    // sequence was an error report or too short): read the range again,
    // a few times, then end with a clear message instead of printing nothing.
    void AskForRange()
    {
        if (rangeRequested_ && !session_.connection().busy() && rangeReads_ >= kRangeReadsForValues) {
            exitCode = session_.Fail(rangeErrorReported_ ? kExitInstrumentError : kExitNoInstrument,
                                     QStringLiteral("the instrument on %1 does not report its measuring range, "
                                                    "so its values cannot be shown")
                                         .arg(session_.PortLabel()));
            finished.quit();
            return;
        }
        if (session_.connection().busy())
            return;
        rangeRequested_ = true;
        ++rangeReads_;
        session_.connection().submit(QStringLiteral("range"), [](JobContext &job) { job.sequences().ReadRange(); });
    }

    void Event(const QString &name, const QString &text)
    {
        if (json_)
            Print(QJsonObject{{QStringLiteral("event"), name}});
        else
            session_.out() << text << Qt::endl;
        EndWhenOutputFails();
    }

    // Nobody reads what a watch can no longer write (a full disk, a closed
    // pipe): stop polling; the program reports the failed output.
    void EndWhenOutputFails()
    {
        if (session_.out().status() != QTextStream::Ok)
            finished.quit();
    }

    void Print(const QJsonObject &line)
    {
        session_.out() << TerminalJson(QJsonDocument(line), QJsonDocument::Compact).trimmed() << Qt::endl;
    }

    InstrumentSession &session_;
    int samplesLeft_;
    bool json_;
    bool lost_ = false;
    bool rangeRequested_ = false;
    bool rangeErrorReported_ = false;
    int rangeReads_ = 0;
};

} // namespace

int RunWatch(CtlContext &context)
{
    InstrumentSession session(context.options, context.environment, *context.gasTable, true);
    // With the Range tab in front every (re)connect reads the range, so the
    // values keep their scale, unit and gas after the instrument was lost.
    if (const int code = session.OpenAndConnect(InstrumentTab::Range))
        return code;
    TerminalView &view = session.view();

    Watcher watcher(session, context.options.samples, context.options.json);
    view.onAnswer = [&watcher](const DecodedAnswer &answer) { watcher.Answer(answer); };
    QObject::connect(&session.connection(), &InstrumentConnection::phaseChanged, &watcher.finished,
                     [&watcher](ConnectionPhase phase) { watcher.Phase(phase); });
    QObject::connect(&session, &InstrumentSession::interrupted, &watcher.finished, &QEventLoop::quit);
    QObject::connect(&session, &InstrumentSession::portFailed, &watcher.finished, &QEventLoop::quit);

    if (!context.options.json)
        context.out() << "Watching the instrument on " << session.PortLabel() << "; Ctrl+C ends."
                      << Qt::endl;
    watcher.finished.exec();
    view.onAnswer = nullptr;
    session.connection().setIdlePollEnabled(false);

    if (watcher.exitCode != kExitOk)
        return watcher.exitCode;
    // Ctrl+C is how watching ends; error reports were shown as they came.
    // Only a port that failed under the watch makes it a failure.
    if (session.Interrupted() || !session.Aborted())
        return kExitOk;
    return session.Verdict(true);
}

} // namespace r310::cli
