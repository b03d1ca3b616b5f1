// r310ctl doctor: the connect request on the line, every byte recorded.
#include "DoctorSteps.h"

#include "InstrumentConnection.h"
#include "QSerialPortBackend.h"
#include "R310_typ.h"
#include "SignalWatcher.h"

#include <QCoreApplication>
#include <QTimer>

namespace r310::cli::doctor {

namespace {

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
// answers, the time-out ends it, Ctrl+C or the port fails. The requests go
// through the connection engine, one job that opens the port itself (no
// search, no connect sequence: the doctor wants the raw first answer).
ConnectOutcome SendConnectRequests(const CtlContext &context, const DoctorSystem &system, const QString &node,
                                   LineRecord &record)
{
    ConnectionOptions options;
    options.link = [&system, &record](const QString &name, const LineSettings &settings) {
        return std::make_unique<RecordedDevice>(MakeDevice(system, name, settings), record);
    };
    options.tick = context.environment.tick;
    options.idlePoll = false;
    InstrumentConnection connection(options);

    // Filled by the job on the engine's thread, read once it has ended.
    ConnectOutcome outcome;
    QString portFailure;
    QObject::connect(&connection, &InstrumentConnection::portError, &connection,
                     [&portFailure](const QString &message) { portFailure = message; });
    QTimer bound;
    bound.setSingleShot(true);
    bound.setTimerType(Qt::PreciseTimer);
    QObject::connect(&bound, &QTimer::timeout, &connection, &InstrumentConnection::cancel);
    if (context.options.timeoutSeconds > 0)
        bound.start(std::chrono::seconds(context.options.timeoutSeconds));
    bool interrupted = false;
    std::unique_ptr<SignalWatcher> interruption;
    if (context.environment.handleSignals) {
        interruption = std::make_unique<SignalWatcher>();
        QObject::connect(interruption.get(), &SignalWatcher::signalled, &connection, [&] {
            interrupted = true;
            connection.cancel();
        });
    }

    connection.runAndWait(QStringLiteral("doctor connect requests"), [node, &outcome](JobContext &job) {
        SerialPort &port = job.port();
        port.SetPortName(node);
        try {
            port.SetOpen(true);
        } catch (const PortError &error) {
            outcome.portError = error.message();
            return;
        }
        Transaction &transaction = job.transaction();
        RequestBuffer request{};
        BuildConnectRequest(request);
        while (!job.cancelled() && port.Open()) {
            transaction.ArmResponseTimer(kConnectArmTicks);
            transaction.RunTransaction(request);
            if (transaction.Result().ResponseStatus == kAssembleGood) {
                outcome.answered = true;
                outcome.errorReport = transaction.Received().bytes[kOffsetObject] == kObjectErrorReport;
                break;
            }
        }
        port.SetOpen(false);
    });
    if (outcome.portError.isEmpty())
        outcome.portError = portFailure;
    outcome.interrupted = interrupted;
    outcome.seconds = record.Seconds();
    return outcome;
}

} // namespace r310::cli::doctor
