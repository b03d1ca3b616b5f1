#include "SoakChecks.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace soak {

namespace {

constexpr int kOffsetObject = 4;
constexpr int kOffsetFlags = 5;
constexpr int kOffsetLength = 6;
constexpr int kOffsetPayload = 7;
constexpr std::uint8_t kWriteBit = 0x40;
constexpr std::uint8_t kConnectObject = 1;

QString Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

// Shortened for a one-line message.
QString Shown(const QString &text)
{
    constexpr int kLongest = 60;
    return text.size() <= kLongest ? text : text.left(kLongest) + QStringLiteral("...");
}

// The file's lines without their CR LF, with the date and time of every
// line after the header blanked. Empty with a problem when a line ends otherwise.
struct ExportLines {
    QStringList lines;
    QString problem;
};

ExportLines Lines(ExportKind kind, const QByteArray &bytes)
{
    ExportLines result;
    if (bytes.isEmpty()) {
        result.problem = QStringLiteral("the file is empty");
        return result;
    }
    if (!bytes.endsWith("\r\n")) {
        result.problem = QStringLiteral("the file does not end with CR LF (cut short?)");
        return result;
    }
    const int dateField = kind == ExportKind::Events ? 1 : 0;
    const QList<QByteArray> raw = bytes.left(bytes.size() - 2).split('\n');
    for (qsizetype i = 0; i < raw.size(); ++i) {
        QByteArray line = raw[i];
        if (!line.endsWith('\r') && i + 1 < raw.size()) {
            result.problem = QStringLiteral("line %1 does not end with CR LF").arg(i + 1);
            return result;
        }
        if (line.endsWith('\r'))
            line.chop(1);
        QStringList fields = QString::fromLatin1(line).split(u';');
        if (i > 0 && fields.size() > dateField && !fields[dateField].trimmed().isEmpty())
            fields[dateField] = QStringLiteral("*");
        result.lines.append(fields.join(u';'));
    }
    return result;
}

QString FirstDifference(const QStringList &got, const QStringList &expected)
{
    for (qsizetype i = 0; i < std::min(got.size(), expected.size()); ++i) {
        if (got[i] != expected[i])
            return QStringLiteral("line %1 is \"%2\", expected \"%3\"").arg(i + 1).arg(Shown(got[i]), Shown(expected[i]));
    }
    return QStringLiteral("%1 lines, expected %2").arg(got.size()).arg(expected.size());
}

// The events stderr names as lost: "2 of 5 events could not be read and
// are not in the file: No 1, 3." ("and K more" when the list is long).
struct LostEvents {
    bool named = false;
    int count = 0;
    QSet<QString> numbers; // as in the file's "No" column
    bool complete = false; // every lost one is listed
};

LostEvents NamedLostEvents(const QString &errorOutput)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"((\d+) of \d+ events? could not be read and (?:is|are) not in the file: No ([0-9, ]+?)( and \d+ more)?\.)"));
    LostEvents lost;
    const QRegularExpressionMatch match = pattern.match(errorOutput);
    if (!match.hasMatch())
        return lost;
    lost.named = true;
    lost.count = match.captured(1).toInt();
    for (const QString &number : match.captured(2).split(u',', Qt::SkipEmptyParts))
        lost.numbers.insert(number.trimmed());
    lost.complete = match.captured(3).isEmpty();
    return lost;
}

// An event download that lost events: the reference without the lost lines.
QStringList CheckPartialEvents(const QStringList &got, const QStringList &reference, const QString &errorOutput)
{
    const LostEvents lost = NamedLostEvents(errorOutput);
    if (!lost.named)
        return {QStringLiteral("the event file was written with exit code 3 or 5, but no lost event was named")};
    if (got.size() + lost.count != reference.size())
        return {QStringLiteral("%1 events lost, but the file has %2 lines of %3")
                    .arg(lost.count)
                    .arg(got.size())
                    .arg(reference.size())};
    QStringList expected;
    for (qsizetype i = 0; i < reference.size(); ++i) {
        const QString number = reference[i].section(u';', 0, 0);
        if (i == 0 || !lost.complete || !lost.numbers.contains(number))
            expected.append(reference[i]);
    }
    if (lost.complete)
        return got == expected ? QStringList{} : QStringList{QStringLiteral("the event file without the lost events: ") +
                                                             FirstDifference(got, expected)};
    // Not every lost one is named: the lines must still be the reference's, in order.
    qsizetype at = 0;
    for (const QString &line : got) {
        while (at < expected.size() && expected[at] != line)
            ++at;
        if (at == expected.size())
            return {QStringLiteral("the event file holds a line the faultless download lacks: \"%1\"").arg(Shown(line))};
        ++at;
    }
    return {};
}

QJsonObject WithoutLiveValues(QJsonObject document)
{
    document.remove(QStringLiteral("port"));
    QJsonObject range = document.value(QStringLiteral("range")).toObject();
    range.remove(QStringLiteral("value"));
    document.insert(QStringLiteral("range"), range);
    return document;
}

} // namespace

QStringList SanitizerReports(const QByteArray &errorOutput)
{
    static const char *const kMarks[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                         "ERROR: UndefinedBehaviorSanitizer", "runtime error:"};
    QStringList reports;
    for (const QByteArray &line : errorOutput.split('\n')) {
        for (const char *mark : kMarks) {
            if (line.contains(mark)) {
                reports.append(QString::fromUtf8(line).trimmed());
                break;
            }
        }
    }
    return reports;
}

std::vector<HeardWrite> WritesHeard(const QByteArray &simulatorLog)
{
    std::vector<HeardWrite> writes;
    for (const QByteArray &line : simulatorLog.split('\n')) {
        const qsizetype arrow = line.indexOf(" -> ");
        if (arrow < 0)
            continue;
        const std::optional<QByteArray> frame = BytesFromHex(QString::fromLatin1(line.mid(arrow + 4)).trimmed());
        if (!frame || frame->size() < kOffsetPayload + 2)
            continue;
        const auto object = static_cast<std::uint8_t>(frame->at(kOffsetObject));
        const auto flags = static_cast<std::uint8_t>(frame->at(kOffsetFlags));
        const auto length = static_cast<std::uint8_t>(frame->at(kOffsetLength));
        if (!(flags & kWriteBit) || (object == kConnectObject && length == 0))
            continue;
        writes.push_back({object, frame->mid(kOffsetPayload, length)});
    }
    return writes;
}

QStringList CheckWrites(const std::vector<HeardWrite> &heard, std::uint8_t object, const QByteArray &payload,
                        bool reportedWritten)
{
    QStringList problems;
    bool intendedHeard = false;
    for (const HeardWrite &write : heard) {
        if (write.object == object && write.payload == payload) {
            intendedHeard = true;
            continue;
        }
        problems.append(QStringLiteral("the instrument heard a write of object %1 with payload %2; intended: "
                                       "object %3 with %4")
                            .arg(write.object)
                            .arg(Hex(write.payload))
                            .arg(object)
                            .arg(Hex(payload)));
    }
    if (reportedWritten && !intendedHeard)
        problems.append(QStringLiteral("set reported the write done, but the instrument never heard it"));
    return problems;
}

QStringList CheckPayloadValue(const QByteArray &payload, int offset, int size, int value)
{
    if (payload.size() < offset + size)
        return {QStringLiteral("the payload %1 is too short for the value at byte %2").arg(Hex(payload)).arg(offset)};
    int held = static_cast<std::uint8_t>(payload[offset]);
    if (size == 2)
        held |= static_cast<std::uint8_t>(payload[offset + 1]) << 8;
    if (held == value)
        return {};
    return {QStringLiteral("the payload %1 carries %2 at byte %3, not the value %4")
                .arg(Hex(payload))
                .arg(held)
                .arg(offset)
                .arg(value)};
}

std::optional<QByteArray> BytesFromHex(const QString &text)
{
    QByteArray bytes;
    for (const QString &pair : text.split(u' ', Qt::SkipEmptyParts)) {
        bool ok = false;
        const uint value = pair.toUInt(&ok, 16);
        if (!ok || pair.size() != 2)
            return std::nullopt;
        bytes.append(static_cast<char>(value));
    }
    return bytes;
}

QStringList UnexpectedFiles(const QDir &folder, const QStringList &expected)
{
    QStringList unexpected;
    const QStringList present =
        folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : present) {
        if (!expected.contains(name))
            unexpected.append(name);
    }
    return unexpected;
}

QStringList CheckExportFile(ExportKind kind, int exitCode, const FileBefore &before, const FileBefore &after,
                            const QByteArray &reference, const QString &errorOutput)
{
    const ExportLines expected = Lines(kind, reference);
    if (!expected.problem.isEmpty())
        return {QStringLiteral("the faultless download's file: ") + expected.problem};
    if (exitCode == 0) {
        if (!after)
            return {QStringLiteral("exit code 0, but no file was written")};
        const ExportLines got = Lines(kind, *after);
        if (!got.problem.isEmpty())
            return {got.problem};
        if (got.lines != expected.lines)
            return {QStringLiteral("the file differs from the faultless download's: ") +
                    FirstDifference(got.lines, expected.lines)};
        return {};
    }
    if (after == before)
        return {};
    if (kind == ExportKind::Events && (exitCode == 3 || exitCode == 5) && after) {
        const ExportLines got = Lines(kind, *after);
        if (!got.problem.isEmpty())
            return {got.problem};
        return CheckPartialEvents(got.lines, expected.lines, errorOutput);
    }
    if (!before)
        return {QStringLiteral("exit code %1, but a file was left").arg(exitCode)};
    if (!after)
        return {QStringLiteral("exit code %1, and the older file was removed").arg(exitCode)};
    return {QStringLiteral("exit code %1, and the older file was changed").arg(exitCode)};
}

QStringList CompareGetJson(const QByteArray &output, const QByteArray &reference)
{
    QJsonParseError error{};
    const QJsonDocument got = QJsonDocument::fromJson(output, &error);
    if (!got.isObject())
        return {QStringLiteral("get --json printed no JSON object: ") + error.errorString()};
    const QJsonObject expected = WithoutLiveValues(QJsonDocument::fromJson(reference).object());
    const QJsonObject actual = WithoutLiveValues(got.object());
    QStringList differing;
    QStringList keys = expected.keys() + actual.keys();
    keys.removeDuplicates();
    for (const QString &key : keys) {
        if (actual.value(key) != expected.value(key))
            differing.append(key);
    }
    if (differing.isEmpty())
        return {};
    return {QStringLiteral("get --json differs from the faultless instrument's in: ") + differing.join(u',')};
}

std::optional<QByteArray> PayloadOfSetJson(const QByteArray &output)
{
    const QJsonArray writes = QJsonDocument::fromJson(output).object().value(QStringLiteral("writes")).toArray();
    if (writes.size() != 1)
        return std::nullopt;
    return BytesFromHex(writes[0].toObject().value(QStringLiteral("payload")).toString());
}

QStringList CheckSetJson(const QByteArray &output, std::uint8_t object, const QByteArray &payload)
{
    const QJsonArray writes = QJsonDocument::fromJson(output).object().value(QStringLiteral("writes")).toArray();
    if (writes.size() != 1)
        return {QStringLiteral("set --json did not report one write")};
    const QJsonObject write = writes[0].toObject();
    QStringList problems;
    if (write.value(QStringLiteral("object")).toInt() != object)
        problems.append(QStringLiteral("set --json reports a write of object %1, intended %2")
                            .arg(write.value(QStringLiteral("object")).toInt())
                            .arg(object));
    // The logger interval's write reports no payload; the wire shows it.
    if (write.contains(QStringLiteral("payload")) && PayloadOfSetJson(output) != payload)
        problems.append(QStringLiteral("set --json reports the payload %1, intended %2")
                            .arg(write.value(QStringLiteral("payload")).toString(), Hex(payload)));
    if (!write.value(QStringLiteral("heldAsWritten")).toBool())
        problems.append(QStringLiteral("set --json says the instrument does not hold what was written"));
    return problems;
}

} // namespace soak
