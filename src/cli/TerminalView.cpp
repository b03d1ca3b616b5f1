#include "TerminalView.h"

#include "SekDate.h"

namespace r310::cli {

TerminalView::TerminalView(QTextStream &err, bool verbose) : err_(err), verbose_(verbose) {}

void TerminalView::setStatusText(int panel, const QString &text)
{
    if (panel == kStatusPanelPhase && onPhase)
        onPhase(text);
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
}

void TerminalView::SetLamp(LampColour colour)
{
    lamp = colour;
}

void TerminalView::ShowAnswer(const DecodedAnswer &answer, const AnswerFrame &frame)
{
    if (answer.errorReport) {
        errorReports.push_back({requestObject ? requestObject() : std::uint8_t{0}, frame.payload});
    }
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
    if (!answer.errorReport && !answer.evaluated && answer.flags == kFlagsDataAnswer
        && answer.object != kObjectConnect && ObjectPayloadSize(answer.object) == 0)
        undecoded[answer.object] = frame.payload;
    if (onAnswer)
        onAnswer(answer);
}

void TerminalView::ClosePortAfterCancel()
{
    if (closePort)
        closePort();
}

} // namespace r310::cli
