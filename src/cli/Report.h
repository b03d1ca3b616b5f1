#pragma once
// How r310ctl prints the instrument's values: as labelled text lines in the
// window's own formats (the decoder's texts, in the user's regional
// settings), or as JSON objects carrying raw values and units beside them.
#include "DecodedValues.h"

#include <QJsonObject>
#include <QJsonDocument>
#include <QString>
#include <QTextStream>

#include <cstdint>
#include <vector>

namespace r310 {
class GasTable;
}

namespace r310::cli {

struct Field {
    QString label;
    QString value;
};
using Fields = std::vector<Field>;

// Text that came from the instrument (or the gas table), made safe to print
// on a terminal: every control character (C0, DEL, C1 U+0080..U+009F) is
// shown as \xHH with two lower-case hex digits (ESC as \x1b), and a
// backslash as \\, so what is shown maps back to exactly one text.
QString VisibleText(const QString &text);

// The document as JSON text in which no control character appears raw:
// besides the C0 controls JSON escapes itself, DEL and C1 (U+0080..U+009F)
// are written as \u escapes, so a terminal never acts on instrument text.
QByteArray TerminalJson(const QJsonDocument &document, QJsonDocument::JsonFormat format);

// The progress of a download on one line of standard error ("Reading event
// 37 of 120"), rewritten in place; shown only when standard error is a
// terminal, and wiped when the download ends.
class ProgressLine {
public:
    explicit ProgressLine(QTextStream &err, const QString &prefix = QString());
    ~ProgressLine() { Clear(); }
    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    void Show(const QString &text);
    void Clear();

private:
    QTextStream &err_;
    const QString prefix_;
    const bool shown_;
    int width_ = 0;
};

// "Label:  value" lines, the values in one column, each value shown as
// VisibleText shows it.
void PrintFields(QTextStream &out, const Fields &fields, int indent = 0);
// A section heading and its fields, indented.
void PrintSection(QTextStream &out, const QString &heading, const Fields &fields);

QString YesNo(bool value);
QString Hex(const std::vector<std::uint8_t> &bytes);
// Value text, a blank, unit and gas ("1,2 ppm CO"); the value alone without a gas text.
QString ValueWithGas(const QString &valueText, const QString &gasText);

Fields IdentityFields(const IdentityValues &identity);
Fields ClockFields(const ClockValues &clock);
Fields RangeFields(const RangeAlarmSettings &range, const IdentityValues *identity, const MeasuredValue *value);
// One line per alarm threshold: limit (as VisibleText shows it) and its three options.
void PrintAlarmTable(QTextStream &out, const RangeAlarmSettings &range, int indent);
Fields SignalFields(const SignalSettings &signalSettings);
Fields HardwareFields(const HardwareSettings &hardware, const FeatureGates &gates);

QJsonObject IdentityJson(const IdentityValues &identity);
QJsonObject GatesJson(const FeatureGates &gates);
QJsonObject ClockJson(const ClockValues &clock, std::int64_t differenceSeconds);
// Unit and gas come from the range object's codes when it has been read.
QJsonObject ValueJson(const MeasuredValue &value, const RangeAlarmSettings *range, const GasTable &gasTable);
QJsonObject RangeJson(const RangeAlarmSettings &range, const GasTable &gasTable);
QJsonObject SignalsJson(const SignalSettings &signalSettings);
QJsonObject HardwareJson(const HardwareSettings &hardware, const FeatureGates &gates);
// An answer as received: its object and payload bytes.
QJsonObject ObjectPayloadJson(std::uint8_t object, const std::vector<std::uint8_t> &payload);

} // namespace r310::cli
