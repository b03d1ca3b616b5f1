// r310ctl watch: the idle poll on the terminal. Clock and live value about
// once a second; a lost instrument is reported, searched for and found again.
#include "ExitCodes.h"
#include "IdlePollDriver.h"
#include "Report.h"
#include "Subcommands.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>

namespace r310::cli {

namespace {

class Watcher {
public:
    Watcher(InstrumentSession &session, int samples, bool json)
        : session_(session), samplesLeft_(samples), json_(json)
    {
    }

    void Answer(const DecodedAnswer &answer)
    {
        const TerminalView &view = session_.view();
        if (answer.errorReport)
            Event(QStringLiteral("errorReport"),
                  QStringLiteral("the instrument answered the request for object %1 with an error report")
                      .arg(session_.sequences().LastRequestObject()));
        // Values read before the range (right after connecting) have no
        // scale yet; the window shows them as 0, the terminal skips them.
        if (!answer.value || !view.range)
            return;
        if (json_) {
            QJsonObject line{{QStringLiteral("value"), ValueJson(*view.value, &*view.range, session_.gasTable())}};
            if (view.clock)
                line.insert(QStringLiteral("clock"), ClockJson(*view.clock, view.clockDifference));
            Print(line);
        } else {
            const QString time = view.clock ? view.clock->instrumentText : QStringLiteral("-");
            session_.out() << time << "  " << ValueWithGas(view.value->text, view.range->gasText) << Qt::endl;
        }
        if (samplesLeft_ > 0 && --samplesLeft_ == 0)
            finished.quit();
    }

    void Phase(const QString &text)
    {
        if (text == QLatin1String("Search") && !lost_) {
            lost_ = true;
            Event(QStringLiteral("lost"), QStringLiteral("instrument not answering; searching ..."));
        }
    }

    void Lamp()
    {
        if (lost_ && session_.view().lamp == LampColour::LimeGreen) {
            lost_ = false;
            Event(QStringLiteral("found"), QStringLiteral("instrument answering again"));
        }
    }

    QEventLoop finished;

private:
    void Event(const QString &name, const QString &text)
    {
        if (json_)
            Print(QJsonObject{{QStringLiteral("event"), name}});
        else
            session_.out() << text << Qt::endl;
    }

    void Print(const QJsonObject &line)
    {
        session_.out() << QJsonDocument(line).toJson(QJsonDocument::Compact).trimmed() << Qt::endl;
    }

    InstrumentSession &session_;
    int samplesLeft_;
    bool json_;
    bool lost_ = false;
};

} // namespace

int RunWatch(CtlContext &context)
{
    InstrumentSession session(context.options, context.environment, *context.gasTable);
    // With the Range tab in front every (re)connect reads the range, so the
    // values keep their scale, unit and gas after the instrument was lost.
    if (const int code = session.OpenAndConnect(InstrumentTab::Range))
        return code;
    TerminalView &view = session.view();

    Watcher watcher(session, context.options.samples, context.options.json);
    view.onAnswer = [&watcher](const DecodedAnswer &answer) {
        watcher.Answer(answer);
        watcher.Lamp();
    };
    view.onPhase = [&watcher](const QString &text) { watcher.Phase(text); };
    QObject::connect(&session, &InstrumentSession::interrupted, &watcher.finished, &QEventLoop::quit);
    QObject::connect(&session, &InstrumentSession::portFailed, &watcher.finished, &QEventLoop::quit);

    if (!context.options.json)
        context.out() << "Watching the instrument on " << session.PortLabel() << "; Ctrl+C ends." << Qt::endl;
    IdlePollDriver poll(session.sequences(), view);
    poll.Install();
    watcher.finished.exec();
    poll.Uninstall();
    view.onAnswer = nullptr;
    view.onPhase = nullptr;

    // Ctrl+C is how watching ends; error reports were shown as they came.
    // Only a port that failed under the watch makes it a failure.
    if (session.Interrupted() || !session.Aborted())
        return kExitOk;
    return session.Verdict(true);
}

} // namespace r310::cli
