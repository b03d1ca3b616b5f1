#pragma once
// Runs the idle poll when the event queue has run empty. The event
// dispatcher announces that it is about to block; when the poll has an
// exchange to start, one queued call runs it right after (never inside the
// announcement itself, and never twice at once). When it has nothing to do,
// nothing is scheduled and the process sleeps until the next timer tick.
#include <QMetaObject>
#include <QObject>

namespace r310 {

class LinkUi;
class ReadSequences;

class IdlePollDriver : public QObject {
    Q_OBJECT
public:
    // ui shows a port error the poll runs into. Both must outlive the driver.
    IdlePollDriver(ReadSequences &sequences, LinkUi &ui, QObject *parent = nullptr);
    ~IdlePollDriver() override;

    // Starts and stops listening to the event dispatcher of the current thread.
    void Install();
    void Uninstall();
    bool Installed() const { return static_cast<bool>(connection_); }

    // Polls started so far.
    int PollsRun() const { return pollsRun_; }

private:
    void queueRanEmpty();
    void runPoll();

    ReadSequences &sequences_;
    LinkUi &ui_;
    QMetaObject::Connection connection_;
    bool scheduled_ = false;
    bool running_ = false;
    int pollsRun_ = 0;
};

} // namespace r310
