#include "IdlePollDriver.h"

#include "LinkUi.h"
#include "ReadSequences.h"

#include <QAbstractEventDispatcher>

namespace r310 {

IdlePollDriver::IdlePollDriver(ReadSequences &sequences, LinkUi &ui, QObject *parent)
    : QObject(parent), sequences_(sequences), ui_(ui)
{
}

IdlePollDriver::~IdlePollDriver()
{
    Uninstall();
}

void IdlePollDriver::Install()
{
    if (connection_)
        return;
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return;
    connection_ = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                          &IdlePollDriver::queueRanEmpty, Qt::DirectConnection);
}

void IdlePollDriver::Uninstall()
{
    if (connection_)
        disconnect(connection_);
    connection_ = {};
}

void IdlePollDriver::queueRanEmpty()
{
    // Checked on every wake-up, so it must stay cheap; the exchange itself
    // runs from the queued call, outside the dispatcher's announcement.
    if (scheduled_ || running_ || !sequences_.IdlePollHasWork())
        return;
    scheduled_ = true;
    QMetaObject::invokeMethod(this, &IdlePollDriver::runPoll, Qt::QueuedConnection);
}

void IdlePollDriver::runPoll()
{
    scheduled_ = false;
    if (running_ || !connection_)
        return;
    struct RunningFlag {
        bool &flag;
        explicit RunningFlag(bool &f) : flag(f) { flag = true; }
        ~RunningFlag() { flag = false; }
    } running(running_);
    ++pollsRun_;
    // A port error ends this poll with its message; the next poll waits a
    // full period instead of meeting the same error at once.
    if (!RunCommand(ui_, [this] { sequences_.IdlePoll(); }))
        sequences_.PostponePoll();
}

} // namespace r310
