#include "TerminalView.h"

#include "SekDate.h"

namespace r310::cli {

TerminalView::TerminalView(QTextStream &err, bool verbose) : err_(err), verbose_(verbose) {}

void TerminalView::Attach(InstrumentConnection &connection)
{
    QObject::connect(&connection, &InstrumentConnection::statusText, &connection,
                     [this](int panel, const QString &text) { setStatusText(panel, text); });
    QObject::connect(&connection, &InstrumentConnection::errorMessage, &connection,
                     [this](const QString &text) { showError(text); });
    QObject::connect(&connection, &InstrumentConnection::displayCleared, &connection,
                     [this] { ClearInstrumentDisplay(); });
    QObject::connect(&connection, &InstrumentConnection::lampChanged, &connection,
                     [this](LampColour colour) { lamp = colour; });
    QObject::connect(&connection, &InstrumentConnection::clockNotTaken, &connection,
                     [this] { clockNotTaken = true; });
    QObject::connect(&connection, &InstrumentConnection::errorReportReceived, &connection,
                     [this](quint8 object, const QByteArray &payload) {
                         errorReports.push_back({object, std::vector<std::uint8_t>(payload.begin(), payload.end())});
                     });
    QObject::connect(&connection, &InstrumentConnection::answerDecoded, &connection,
                     [this](const DecodedAnswer &answer, const AnswerFrame &frame) {
                         // Kept whether or not a log module's branch evaluated it.
                         if (!answer.errorReport && answer.flags == kFlagsDataAnswer
                             && answer.object != kObjectConnect && ObjectPayloadSize(answer.object) == 0)
                             undecoded[answer.object] = frame.payload;
                         if (answer.shortPayload)
                             incompleteAnswers.push_back({answer.object, static_cast<int>(frame.payload.size()),
                                                          ObjectPayloadSize(answer.object)});
                         ShowAnswer(answer);
                     });
}

void TerminalView::setStatusText(int panel, const QString &text)
{
    if (verbose_ && !quiet_ && !text.isEmpty()) {
        err_ << (panel == kStatusPanelPhase ? "[" + text + "]" : text) << Qt::endl;
    }
}

void TerminalView::showError(const QString &text)
{
    if (!quiet_)
        err_ << "r310ctl: " << text << Qt::endl;
}

void TerminalView::ClearInstrumentDisplay()
{
    identity.reset();
    clock.reset();
    clockDifference = 0;
    value.reset();
    range.reset();
    signalSettings.reset();
    hardware.reset();
    undecoded.clear();
    incompleteAnswers.clear();
}

void TerminalView::ShowAnswer(const DecodedAnswer &answer)
{
    if (answer.identity)
        identity = answer.identity;
    if (answer.clock) {
        clock = answer.clock;
        clockDifference = static_cast<std::int64_t>(answer.clock->rawSeconds) - SysTimeSek();
    }
    if (answer.value)
        value = answer.value;
    if (answer.range)
        range = answer.range;
    if (answer.signalSettings)
        signalSettings = answer.signalSettings;
    if (answer.hardware)
        hardware = answer.hardware;
    if (onAnswer)
        onAnswer(answer);
}

} // namespace r310::cli
