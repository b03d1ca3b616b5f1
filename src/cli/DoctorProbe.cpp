// r310ctl doctor: the connect request on the line, every byte recorded.
#include "DoctorSteps.h"

#include "ExchangeReport.h"
#include "QSerialPortBackend.h"
#include "R310_typ.h"
#include "SignalWatcher.h"
#include "Transaction.h"

#include <QCoreApplication>
#include <QTimer>

namespace r310::cli::doctor {

namespace {

class QuietReport : public ExchangeReport {
public:
    void setStatusText(int, const QString &) override {}
    void showError(const QString &text) override { message = text; }

    QString message;
};

// The port under the serial port service, with every byte recorded.
class RecordedDevice : public SerialBackend {
public:
    RecordedDevice(std::unique_ptr<SerialBackend> device, LineRecord &record)
        : device_(std::move(device)), record_(record)
    {
        connect(device_.get(), &SerialBackend::readyRead, this, &SerialBackend::readyRead);
        connect(device_.get(), &SerialBackend::bytesWritten, this, &SerialBackend::bytesWritten);
        connect(device_.get(), &SerialBackend::failed, this, &SerialBackend::failed);
    }

    bool open() override { return device_->open(); }
    void close() override { device_->close(); }
    bool isOpen() const override { return device_->isOpen(); }
    bool write(const QByteArray &bytes) override
    {
        record_.Sent(bytes);
        return device_->write(bytes);
    }
    QByteArray readAll() override
    {
        const QByteArray bytes = device_->readAll();
        record_.Received(bytes);
        return bytes;
    }
    qint64 bytesAvailable() const override { return device_->bytesAvailable(); }
    qint64 bytesToWrite() const override { return device_->bytesToWrite(); }
    bool setRequestToSend(bool raised) override { return device_->setRequestToSend(raised); }
    QString errorString() const override { return device_->errorString(); }

private:
    std::unique_ptr<SerialBackend> device_;
    LineRecord &record_;
};

} // namespace

std::unique_ptr<SerialBackend> MakeDevice(const DoctorSystem &system, const QString &node,
                                          const LineSettings &settings)
{
    if (system.link)
        return system.link(node, settings);
    return std::make_unique<QSerialPortBackend>(node, settings);
}

// Repeats the connect request, as the search does, until the instrument
// answers, the time-out ends it, Ctrl+C or the port fails.
ConnectOutcome SendConnectRequests(const CtlContext &context, const DoctorSystem &system, const QString &node,
                                   LineRecord &record)
{
    ConnectOutcome outcome;
    QuietReport ui;
    SerialPort port([&](const QString &name, const LineSettings &settings) {
        return std::make_unique<RecordedDevice>(MakeDevice(system, name, settings), record);
    });
    port.SetPortName(node);
    try {
        port.SetOpen(true);
    } catch (const PortError &error) {
        outcome.portError = error.message();
        return outcome;
    }
    Transaction transaction(port, ui);
    transaction.SetTickLength(context.environment.tick);
    QObject::connect(&port, &SerialPort::PortFailed, &transaction, [&](const QString &message) {
        outcome.portError = message;
        transaction.Cancel();
    });
    QTimer bound;
    bound.setSingleShot(true);
    bound.setTimerType(Qt::PreciseTimer);
    QObject::connect(&bound, &QTimer::timeout, &transaction, &Transaction::Cancel);
    if (context.options.timeoutSeconds > 0)
        bound.start(std::chrono::seconds(context.options.timeoutSeconds));
    std::unique_ptr<SignalWatcher> interruption;
    if (context.environment.handleSignals) {
        interruption = std::make_unique<SignalWatcher>();
        QObject::connect(interruption.get(), &SignalWatcher::signalled, &transaction, [&] {
            outcome.interrupted = true;
            transaction.Cancel();
        });
    }

    RequestBuffer request{};
    BuildConnectRequest(request);
    while (!transaction.Cancelled() && port.Open()) {
        transaction.ArmResponseTimer(kConnectArmTicks);
        try {
            transaction.RunTransaction(request);
        } catch (const PortError &error) {
            outcome.portError = error.message();
            break;
        }
        if (transaction.Result().ResponseStatus == kAssembleGood) {
            outcome.answered = true;
            outcome.errorReport = transaction.Received().bytes[kOffsetObject] == kObjectErrorReport;
            break;
        }
    }
    outcome.seconds = record.Seconds();
    port.SetOpen(false);
    return outcome;
}

} // namespace r310::cli::doctor
