#include "RecordSpool.h"

#include "RecordsLocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <mutex>

namespace r310::records {

namespace {

// The spool is read and written by the session and its records thread at once.
std::mutex spoolMutex;

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QJsonArray EventsJson(const logs::EventTable &table)
{
    QJsonArray events;
    for (int j = 0; j < table.size(); ++j) {
        const auto &event = table.at(j);
        events.append(event ? QJsonValue(QString::fromLatin1(
                                  QByteArray(reinterpret_cast<const char *>(event->data()),
                                             static_cast<int>(event->size()))
                                      .toHex()))
                            : QJsonValue());
    }
    return events;
}

logs::EventTable EventsFrom(const QJsonArray &events)
{
    logs::EventTable table;
    table.Prepare(static_cast<int>(events.size()));
    for (int j = 0; j < events.size(); ++j) {
        if (!events.at(j).isString())
            continue;
        const QByteArray bytes = QByteArray::fromHex(events.at(j).toString().toLatin1());
        AnswerFrame frame;
        frame.object = kObjectEventRecord;
        frame.flags = kFlagsDataAnswer;
        frame.intact = true;
        frame.payload.assign(bytes.begin(), bytes.end());
        table.Fill(j, frame);
    }
    return table;
}

QJsonArray BlocksJson(const std::vector<logs::LoggerBlock> &blocks)
{
    QJsonArray out;
    for (const logs::LoggerBlock &b : blocks) {
        QJsonArray sets;
        for (const logs::LoggerSampleSet &s : b.sets) {
            QJsonArray samples;
            for (const std::int16_t v : s.samples)
                samples.append(v);
            sets.append(QJsonArray{s.state, s.gasCode, s.unitCode, s.exponent, s.alarmBits, samples});
        }
        out.append(QJsonArray{b.header.state, static_cast<qint64>(b.header.firstSampleTime), b.header.interval,
                              b.header.reportedSamples, b.header.setCount, sets});
    }
    return out;
}

std::vector<logs::LoggerBlock> BlocksFrom(const QJsonArray &json)
{
    std::vector<logs::LoggerBlock> blocks;
    for (const QJsonValue &value : json) {
        const QJsonArray b = value.toArray();
        logs::LoggerBlock block;
        block.header.state = static_cast<std::uint16_t>(b.at(0).toInt());
        block.header.firstSampleTime = static_cast<std::int32_t>(b.at(1).toInteger());
        block.header.interval = static_cast<std::uint16_t>(b.at(2).toInt());
        block.header.reportedSamples = static_cast<std::uint8_t>(b.at(3).toInt());
        block.header.setCount = static_cast<std::uint8_t>(b.at(4).toInt());
        for (const QJsonValue &setValue : b.at(5).toArray()) {
            const QJsonArray s = setValue.toArray();
            logs::LoggerSampleSet set;
            set.state = static_cast<std::uint8_t>(s.at(0).toInt());
            set.gasCode = static_cast<std::uint8_t>(s.at(1).toInt());
            set.unitCode = static_cast<std::uint8_t>(s.at(2).toInt());
            set.exponent = static_cast<std::int8_t>(s.at(3).toInt());
            set.alarmBits = static_cast<std::uint16_t>(s.at(4).toInt());
            const QJsonArray samples = s.at(5).toArray();
            for (std::size_t k = 0; k < set.samples.size() && k < static_cast<std::size_t>(samples.size()); ++k)
                set.samples[k] = static_cast<std::int16_t>(samples.at(static_cast<qsizetype>(k)).toInt());
            block.sets.push_back(set);
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

QByteArray Compact(const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

QByteArray SpoolSignedText(const QByteArray &entry) { return QByteArrayLiteral("r310 spool ") + entry; }

QJsonObject EntryJson(const SpoolEntry &e)
{
    QJsonObject json{{QStringLiteral("to"), e.target},
                     {QStringLiteral("serial"), e.serial},       {QStringLiteral("kind"), e.kind},
                     {QStringLiteral("at"), e.recordedAt},       {QStringLiteral("host"), e.origin.host},
                     {QStringLiteral("user"), e.origin.user},    {QStringLiteral("program"), e.origin.program},
                     {QStringLiteral("version"), e.origin.version}, {QStringLiteral("body"), e.body}};
    if (e.events)
        json.insert(QStringLiteral("events"), EventsJson(*e.events));
    if (e.blocks)
        json.insert(QStringLiteral("blocks"), BlocksJson(*e.blocks));
    return json;
}

SpoolEntry EntryFrom(const QJsonObject &json)
{
    const auto text = [&json](const char *key) { return json.value(QLatin1String(key)).toString(); };
    SpoolEntry e{text("to"), text("serial"), text("kind"), text("at"),
                 {text("host"), text("user"), text("program"), text("version")},
                 json.value(QStringLiteral("body")).toObject(), std::nullopt, std::nullopt};
    if (json.contains(QStringLiteral("events")))
        e.events = EventsFrom(json.value(QStringLiteral("events")).toArray());
    if (json.contains(QStringLiteral("blocks")))
        e.blocks = BlocksFrom(json.value(QStringLiteral("blocks")).toArray());
    return e;
}

QList<QByteArray> SpoolLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            lines.append(line);
    }
    return lines;
}

} // namespace

QString SpoolPath() { return QFileInfo(DefaultRecordsPath()).dir().filePath(QStringLiteral("records-spool.jsonl")); }

bool SpoolAppend(const QString &path, const KeyPair &key, const SpoolEntry &entry, QString *error)
{
    const QByteArray text = Compact(EntryJson(entry));
    const QJsonObject line{{QStringLiteral("entry"), QString::fromUtf8(text)},
                           {QStringLiteral("key"), KeyId(key.publicKey)},
                           {QStringLiteral("signature"), SignText(key, SpoolSignedText(text))}};
    QDir().mkpath(QFileInfo(path).absolutePath());
    const std::lock_guard<std::mutex> lock(spoolMutex);
    QFile file(path);
    const bool created = !file.exists();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || (created && !file.setPermissions(kOwnerOnly))
        || file.write(Compact(line) + '\n') <= 0 || !file.flush()) {
        *error = QStringLiteral("cannot keep the record in the spool %1: %2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

int SpoolCount(const QString &path)
{
    const std::lock_guard<std::mutex> lock(spoolMutex);
    return static_cast<int>(SpoolLines(path).size());
}

SpoolDelivery DeliverSpool(const QString &path, RecordStore &store)
{
    SpoolDelivery delivery;
    QList<QByteArray> lines;
    {
        const std::lock_guard<std::mutex> lock(spoolMutex);
        lines = SpoolLines(path);
    }
    if (lines.isEmpty() || !store.key())
        return delivery;
    const KeyPair &key = *store.key();
    const RecordOrigin origin = store.origin();
    QByteArray kept;
    for (const QByteArray &raw : lines) {
        const QJsonObject line = QJsonDocument::fromJson(raw).object();
        const QByteArray text = line.value(QStringLiteral("entry")).toString().toUtf8();
        // Only what this user signed is delivered under this user's key.
        if (!delivery.error.isEmpty() || line.value(QStringLiteral("key")).toString() != KeyId(key.publicKey)
            || !SignatureHolds(key.publicKey, SpoolSignedText(text), line.value(QStringLiteral("signature")).toString())) {
            kept += raw + '\n';
            ++delivery.waiting;
            continue;
        }
        const SpoolEntry e = EntryFrom(QJsonDocument::fromJson(text).object());
        if (e.target != store.target().text()) { // for another database: it waits for a run that reaches that one
            kept += raw + '\n';
            ++delivery.waiting;
            continue;
        }
        store.setOrigin(e.origin);
        store.setRecordedAt(e.recordedAt);
        const AppendResult result = e.events   ? store.AppendEvents(e.serial, e.body, *e.events)
                                    : e.blocks ? store.AppendLogger(e.serial, e.body, *e.blocks)
                                               : store.Append(e.serial, e.kind, e.body);
        if (result.ok) {
            ++delivery.delivered;
        } else {
            delivery.error = result.error;
            kept += raw + '\n';
            ++delivery.waiting;
        }
    }
    store.setRecordedAt(QString());
    store.setOrigin(origin);
    const std::lock_guard<std::mutex> lock(spoolMutex);
    // What was spooled meanwhile stays.
    for (const QByteArray &line : SpoolLines(path).mid(lines.size()))
        kept += line + '\n';
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.setPermissions(kOwnerOnly) && file.write(kept) == kept.size())
        file.commit();
    return delivery;
}

} // namespace r310::records
