#pragma once
// Turns Ctrl+C (SIGINT) and SIGTERM into a Qt signal on the thread that owns
// the watcher, so a waiting exchange is cancelled from the event loop and
// never from inside the signal handler. A second Ctrl+C ends the program at
// once, as usual.
#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace r310 {

class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    // The handlers are in place.
    bool active() const { return static_cast<bool>(notifier_); }
    // A signal came that the event loop has not taken yet: for waits that
    // do not run the event loop.
    static bool Pending();

signals:
    void signalled();

private:
    void takeSignal();

    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace r310
