#include "OperationFollow.h"

#include <QEventLoop>
#include <QTimer>

namespace r310::cli {

bool PauseSession(InstrumentSession &session, std::chrono::milliseconds period)
{
    QEventLoop loop;
    QTimer::singleShot(period, &loop, &QEventLoop::quit);
    QObject::connect(&session, &InstrumentSession::interrupted, &loop, &QEventLoop::quit);
    QObject::connect(&session, &InstrumentSession::portFailed, &loop, &QEventLoop::quit);
    if (!session.Aborted())
        loop.exec();
    return !session.Aborted();
}

} // namespace r310::cli
