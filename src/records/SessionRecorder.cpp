#include "SessionRecorder.h"

#include "Certificate.h"
#include "RecordsLink.h"

#include <Formats.h>
#include <SekDate.h>

#include <QDate>
#include <QJsonArray>

namespace r310::records {

namespace {

bool IsSettingsObject(std::uint8_t object)
{
    return object == kObjectRange || object == kObjectSignals || object == kObjectHardware;
}

QString DayText(std::int16_t daysSince1980)
{
    return QDate(1980, 1, 1).addDays(daysSince1980).toString(Qt::ISODate);
}

// The word a record keeps for how a write ended.
QString OutcomeOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done:
        return QStringLiteral("accepted");
    case Outcome::ErrorReport:
        return kErrorReport;
    case Outcome::Refused:
        return kRefused;
    case Outcome::Cancelled:
        return QStringLiteral("cancelled");
    default:
        return kNoAnswer;
    }
}

} // namespace

std::vector<WriteChange> SettingsWriteChanges(SettingsGroup group, const SettingsDraft &before,
                                              const SettingsDraft &written, const SettingsDraft *after)
{
    std::vector<WriteChange> changes;
    for (const SettingsKey &key : SettingsKeys()) {
        if (key.group != group)
            continue;
        WriteChange change{key.name, key.text(before), key.text(written), after ? key.text(*after) : QString()};
        if (change.before != change.written || (after && change.after != change.before))
            changes.push_back(change);
    }
    return changes;
}

SessionRecorder::SessionRecorder(RecordsChoice choice, const QString &program, GasTextLookup gasTexts,
                                 QObject *parent)
    : QObject(parent), choice_(std::move(choice)), program_(program), gasTexts_(std::move(gasTexts))
{
}

SessionRecorder::~SessionRecorder() { Finish(); }

void SessionRecorder::Attach(InstrumentConnection &connection)
{
    connect(&connection, &InstrumentConnection::answerDecoded, this, &SessionRecorder::TakeAnswer);
    connect(&connection, &InstrumentConnection::displayCleared, this, &SessionRecorder::Finish);
}

RecordsLink *SessionRecorder::Store()
{
    if (!enabled() || failed_)
        return nullptr;
    if (!choice_.ok()) {
        Fail(choice_.error);
        return nullptr;
    }
    if (!store_) {
        // Opened on the records thread; what it cannot write waits in the spool.
        store_ = std::make_unique<RecordsLink>(choice_.target, CurrentOrigin(program_));
        store_->setInterrupted(interrupted_);
        store_->setQueued(queued_);
    }
    return store_.get();
}

void SessionRecorder::Fail(const QString &reason)
{
    failure_ = reason;
    if (!failed_) {
        failed_ = true;
        store_.reset(); // opened again for the next instrument
        emit notRecorded(reason);
    }
}

int SessionRecorder::waitingCount()
{
    const int count = store_ ? store_->waiting() : 0;
    // Queued records the records thread could not write are said once.
    if (store_ && store_->spooled() > 0 && !announcedWaiting_) {
        announcedWaiting_ = true;
        failure_ = store_->problem();
        emit notRecorded(failure_);
    }
    return count;
}

bool SessionRecorder::Keep(const AppendResult &result)
{
    if (store_ && !announcedDelivery_ && store_->delivered() >= 0) {
        announcedDelivery_ = true;
        if (store_->delivered() > 0)
            emit delivered(store_->delivered());
    }
    if (result.spooled && store_ && store_->spooled() > 0) {
        // Kept in the spool: the session goes on, its records wait there.
        failure_ = result.error;
        if (!announcedWaiting_) {
            announcedWaiting_ = true;
            emit notRecorded(result.error);
        }
        return false;
    }
    if (!result.ok) {
        Fail(result.error);
        return false;
    }
    failure_.clear();
    emit recorded();
    return true;
}

void SessionRecorder::TakeAnswer(const DecodedAnswer &answer, const AnswerFrame &frame)
{
    if (!answer.evaluated)
        return;
    if (answer.identity) {
        if (identity_ && identity_->serialNumberText != answer.identity->serialNumberText)
            Finish();
        if (!identity_) {
            connectionPending_ = true;
            if (failed_) {
                failed_ = false; // a new instrument: try again
                failure_.clear();
            }
        }
        identity_ = answer.identity;
    }
    if (answer.clock) {
        clockOffset_ = static_cast<std::int64_t>(answer.clock->rawSeconds) - SysTimeSek();
        if (connectionPending_)
            FlushConnection();
    }
    if (answer.value)
        lastValue_ = answer.value->value;
    if (answer.range)
        range_ = answer.range;
    if (answer.bumpResult && identity_ && !bumpFollowed_)
        TakeBumpResult(*answer.bumpResult);
    if ((IsSettingsObject(frame.object) || frame.object == kObjectIdentity) && !frame.payload.empty())
        held_[frame.object] = frame.payload;
    if (IsSettingsObject(frame.object) && identity_) {
        // The same object read again: what was read before is a state of its own.
        if (settingsRead_.count(frame.object) && settingsRead_[frame.object] != frame.payload)
            FlushSettings();
        settingsRead_[frame.object] = frame.payload;
    }
}

void SessionRecorder::FlushConnection()
{
    if (!connectionPending_ || !identity_)
        return;
    RecordsLink *store = Store();
    if (!store)
        return;
    connectionPending_ = false;
    Keep(store->Append(serial(), kind::kConnection, ConnectionBody()));
}

QJsonObject SessionRecorder::ConnectionBody() const
{
    const IdentityValues &id = *identity_;
    QJsonObject body{{QStringLiteral("serial"), id.serialNumberText},
                     {QStringLiteral("softwareVersion"), id.softwareVersionText},
                     {QStringLiteral("sensorType"), id.mkTypeText},
                     {QStringLiteral("sensorSerial"), id.mkSerialNumberText},
                     {QStringLiteral("customerId"), id.customerId},
                     {QStringLiteral("battery"), id.batteryPercent}};
    if (clockOffset_)
        body.insert(QStringLiteral("clockOffsetSeconds"), static_cast<qint64>(*clockOffset_));
    if (simulated_)
        body.insert(QStringLiteral("simulated"), true);
    if (range_) {
        body.insert(QStringLiteral("gasCode"), range_->gasCode);
        body.insert(QStringLiteral("unitCode"), range_->unitCode);
        body.insert(QStringLiteral("gasUnit"), range_->gasText);
        body.insert(QStringLiteral("rangeEnd"), ScaledGas(range_->rangeEnd, range_->exponent));
        body.insert(QStringLiteral("exponent"), range_->exponent);
    }
    return body;
}

QJsonObject SessionRecorder::SettingsBody() const
{
    QJsonObject body = lastSettings_ ? *lastSettings_ : QJsonObject();
    QJsonObject settings = body.value(QStringLiteral("settings")).toObject();
    SettingsDraft draft = SettingsDraft::FromDecoded(identity_->softwareVersion, nullptr, nullptr, nullptr);
    for (const auto &[object, payload] : settingsRead_)
        draft.Take(object, payload);
    for (const SettingsKey &key : SettingsKeys()) {
        const SettingsGroupCommand *group = FindSettingsGroup(key.group);
        if (!group || !settingsRead_.count(group->object))
            continue;
        const QString text = key.text(draft);
        if (!text.isEmpty())
            settings.insert(key.name, text);
    }
    body.insert(QStringLiteral("settings"), settings);
    if (draft.range && settingsRead_.count(kObjectRange)) {
        const RangeAlarmSettings &range = *draft.range;
        body.insert(QStringLiteral("gasCode"), range.gasCode);
        body.insert(QStringLiteral("unitCode"), range.unitCode);
        body.insert(QStringLiteral("gasUnit"), gasTexts_ ? gasTexts_(range.unitCode, range.gasCode) : range.gasText);
        body.insert(QStringLiteral("exponent"), range.exponent);
        body.insert(QStringLiteral("rangeEnd"), ScaledGas(range.rangeEnd, range.exponent));
    }
    if (draft.signalSettings && settingsRead_.count(kObjectSignals)) {
        body.insert(QStringLiteral("nextCalibration"), DayText(draft.signalSettings->nextCalibrationDay));
        body.insert(QStringLiteral("nextBumpTest"), DayText(draft.signalSettings->nextBumpDay));
    }
    return body;
}

void SessionRecorder::FlushSettings()
{
    if (settingsRead_.empty() || !identity_)
        return;
    RecordsLink *store = Store();
    if (!store)
        return;
    FlushConnection();
    if (!lastSettings_) {
        const auto latest = store->Latest(serial(), kind::kSettings);
        if (latest)
            lastSettings_ = latest->body;
    }
    const QJsonObject body = SettingsBody();
    settingsRead_.clear();
    if (lastSettings_ && *lastSettings_ == body)
        return;
    if (Keep(store->Append(serial(), kind::kSettings, body)))
        lastSettings_ = body;
}

void SessionRecorder::FlushPending()
{
    FlushConnection();
}

void SessionRecorder::RecordWrite(const QString &what, const std::vector<WriteChange> &changes,
                                  const QString &outcome, const QString &detail)
{
    RecordsLink *store = identity_ ? Store() : nullptr;
    if (!store)
        return;
    FlushPending();
    QJsonArray keys;
    for (const WriteChange &c : changes) {
        QJsonObject change{{QStringLiteral("key"), c.key}, {QStringLiteral("old"), c.before},
                           {QStringLiteral("new"), c.written}};
        if (!c.after.isEmpty())
            change.insert(QStringLiteral("readBack"), c.after);
        keys.append(change);
    }
    QJsonObject body{{QStringLiteral("what"), what}, {QStringLiteral("changes"), keys},
                     {QStringLiteral("outcome"), outcome}};
    if (!detail.isEmpty())
        body.insert(QStringLiteral("detail"), detail);
    Keep(store->Append(serial(), kind::kWrite, body));
}

void SessionRecorder::TakeBumpResult(const BumpTestResult &r)
{
    // Only a result the instrument reports as final: all positive, or one negative.
    const bool passed = r.a1 > 0 && r.a2 > 0 && r.t50 > 0;
    if (!passed && r.a1 >= 0 && r.a2 >= 0 && r.t50 >= 0)
        return;
    const QJsonObject values{{QStringLiteral("a1"), r.a1}, {QStringLiteral("a2"), r.a2}, {QStringLiteral("t50"), r.t50}};
    RecordsLink *store = Store();
    if (!store)
        return;
    if (!lastBump_) {
        const auto latest = store->Latest(serial(), kind::kBumpTest);
        lastBump_ = QJsonObject();
        if (latest) {
            for (const char *key : {"a1", "a2", "t50"})
                lastBump_->insert(QLatin1String(key), latest->body.value(QLatin1String(key)));
        }
    }
    if (*lastBump_ == values)
        return; // the result on record already
    QJsonObject body = values;
    body.insert(QStringLiteral("outcome"), passed ? QStringLiteral("passed") : QStringLiteral("failed"));
    body.insert(QStringLiteral("source"), QStringLiteral("reported by the instrument"));
    Append(kind::kBumpTest, body);
}

void SessionRecorder::Append(const QString &recordKind, QJsonObject body)
{
    RecordsLink *store = identity_ ? Store() : nullptr;
    if (!store)
        return;
    FlushPending();
    if (simulated_)
        body.insert(QStringLiteral("simulated"), true);
    if (recordKind == kind::kCalibration) {
        if (range_ && !body.contains(QStringLiteral("gasUnit")))
            body.insert(QStringLiteral("gasUnit"), range_->gasText);
        // What its paper prints, as it is now: a reprint never changes.
        FlushSettings();
        if (!lastSettings_) {
            if (const auto latest = store->Latest(serial(), kind::kSettings))
                lastSettings_ = latest->body;
        }
        body.insert(QStringLiteral("certificate"),
                    CertificateFacts(ConnectionBody(), SettingsBody(), TechnicianName(technician_)));
    }
    if (!Keep(store->Append(serial(), recordKind, body)))
        return;
    if (recordKind == kind::kBumpTest && body.contains(QStringLiteral("a1")))
        lastBump_ = QJsonObject{{QStringLiteral("a1"), body.value(QStringLiteral("a1"))},
                                {QStringLiteral("a2"), body.value(QStringLiteral("a2"))},
                                {QStringLiteral("t50"), body.value(QStringLiteral("t50"))}};
}

void SessionRecorder::RecordReport(const QString &recordKind, const QJsonObject &body)
{
    if (recordKind == kind::kCalibration)
        calibration_.reset();
    Append(recordKind, body);
}

void SessionRecorder::Settle()
{
    // A look-up runs on the records thread after what was queued before it.
    if (RecordsLink *store = identity_ ? Store() : nullptr)
        store->Latest(serial(), kind::kCalibration);
}

QString SessionRecorder::unitText() const
{
    return range_ ? range_->gasText.section(u' ', 0, 0, QString::SectionSkipEmpty) : QString();
}

void SessionRecorder::RecordHornCheck(const QString &outcome)
{
    RecordsLink *store = identity_ ? Store() : nullptr;
    if (!store)
        return;
    FlushPending();
    Keep(store->Append(serial(), kind::kHornCheck, {{QStringLiteral("outcome"), outcome}}));
}

void SessionRecorder::RecordEvents(const logs::EventTable &table, bool unfinished)
{
    RecordsLink *store = identity_ ? Store() : nullptr;
    if (!store || (unfinished && table.filledCount() == 0))
        return;
    FlushPending();
    Keep(store->AppendEvents(serial(), {}, table, unfinished ? kind::kEventsUnfinished : kind::kEvents));
}

void SessionRecorder::RecordDatalog(const std::vector<logs::LoggerBlock> &blocks, bool unfinished)
{
    RecordsLink *store = identity_ ? Store() : nullptr;
    if (!store || (unfinished && blocks.empty()))
        return;
    FlushPending();
    qint64 samples = 0;
    for (const logs::LoggerBlock &block : blocks) {
        if (!block.header.setsReadable())
            continue;
        for (const logs::LoggerSampleSet &set : block.sets)
            samples += set.valid() ? block.header.samplesPerSet() : 0;
    }
    Keep(store->AppendLogger(serial(),
                             {{QStringLiteral("blocks"), static_cast<qint64>(blocks.size())},
                              {QStringLiteral("samples"), samples}},
                             blocks, unfinished ? kind::kDatalogUnfinished : kind::kDatalog));
}

std::shared_ptr<const std::vector<logs::LoggerBlock>> SessionRecorder::LoggerOnRecord()
{
    RecordsLink *store = identity_ ? Store() : nullptr;
    return store ? store->LoggerBlocksOnRecord(serial()) : nullptr;
}

std::shared_ptr<const logs::EventTable> SessionRecorder::EventsOnRecord()
{
    RecordsLink *store = identity_ ? Store() : nullptr;
    return store ? store->EventsOnRecord(serial()) : nullptr;
}

SettingsDraft SessionRecorder::HeldSettings() const
{
    SettingsDraft draft = SettingsDraft::FromDecoded(identity_ ? identity_->softwareVersion : 0, nullptr, nullptr,
                                                     nullptr);
    for (const auto &[object, payload] : held_)
        draft.Take(object, payload);
    return draft;
}

void SessionRecorder::RecordSettingsWrite(const SettingsGroupCommand &group, const SettingsDraft &before,
                                          const SettingsDraft &written, const SettingsWriteResult &result)
{
    if (result.outcome == Outcome::NotRun || result.outcome == Outcome::PortClosed)
        return; // nothing reached the instrument
    if (!result.done()) {
        RecordWrite(group.title, SettingsWriteChanges(group.group, before, written, nullptr),
                    OutcomeOf(result.outcome), result.refusal);
        return;
    }
    SettingsDraft held = written;
    held.Take(group.object, result.readBackPayload);
    const bool differs = WrittenObject(group, result.sent, result.readBackPayload) != result.readBackPayload;
    RecordWrite(group.title, SettingsWriteChanges(group.group, before, written, &held),
                differs ? kReadBackDifferent : kReadBackEqual, result.refusal);
}

void SessionRecorder::RecordSettingsWrite(const SettingsGroupCommand &group, const SettingsDraft &before,
                                          const SettingsWriteResult &result)
{
    SettingsDraft written = before;
    if (!result.sent.empty())
        written.Take(group.object, WrittenObject(group, result.sent, result.readBackPayload.empty()
                                                                         ? held_[group.object]
                                                                         : result.readBackPayload));
    RecordSettingsWrite(group, before, written, result);
}

void SessionRecorder::RecordClockWrite(std::optional<std::int64_t> offsetBefore, const SetClockResult &result,
                                       bool clockNotTaken)
{
    if (!result.ran)
        return;
    const auto text = [](std::optional<std::int64_t> offset) {
        return offset ? QString::number(*offset) : QString();
    };
    RecordWrite(QStringLiteral("clock"),
                {{QStringLiteral("clock-offset-s"), text(offsetBefore), QStringLiteral("0"),
                  result.succeeded ? text(clockOffset_) : QString()}},
                result.succeeded ? (clockNotTaken ? kReadBackDifferent : kReadBackEqual) : kNoAnswer);
}

void SessionRecorder::RecordLoggerInterval(std::optional<int> before, std::uint16_t seconds,
                                           const logs::LoggerCommandResult &result)
{
    if (result.outcome == Outcome::NotRun || result.outcome == Outcome::PortClosed)
        return;
    const QString key = QStringLiteral("logger-interval");
    const QString old = before ? QString::number(*before) : QString();
    if (!result.accepted() || !result.infoAfter) {
        RecordWrite(QStringLiteral("data logger"), {{key, old, QString::number(seconds), QString()}},
                    result.accepted() ? kNoAnswer : OutcomeOf(result.outcome));
        return;
    }
    const int held = result.infoAfter->interval();
    RecordWrite(QStringLiteral("data logger"), {{key, old, QString::number(seconds), QString::number(held)}},
                held == seconds ? kReadBackEqual : kReadBackDifferent);
}

void SessionRecorder::RecordFactorySetup(const std::optional<IdentityValues> &before,
                                         const FactorySetupEntries &entries, const FactorySetupResult &result)
{
    if (result.write == Outcome::NotRun || result.write == Outcome::PortClosed)
        return;
    RecordWrite(QStringLiteral("factory setup"),
                {{QStringLiteral("serial"), before ? before->serialNumberText : QString(),
                  FormatSerialNumber(entries.serialNumber), QString()},
                 {QStringLiteral("customer-id"), before ? before->customerId : QString(), entries.customerId,
                  QString()}},
                OutcomeOf(result.write));
}

void SessionRecorder::RecordServiceFunction(int code, const ServiceFunctionResult &result)
{
    if (result.outcome == Outcome::NotRun || result.outcome == Outcome::PortClosed)
        return;
    RecordWrite(QStringLiteral("service function"),
                {{QStringLiteral("function"), QString(), QString::number(code), QString()}},
                OutcomeOf(result.outcome));
}

void SessionRecorder::RecordHornCheck(const HornCheckResult &result)
{
    if (result.hornOn == Outcome::NotRun || result.hornOn == Outcome::PortClosed)
        return;
    RecordHornCheck(result.accepted() ? QStringLiteral("horn switched on and off")
                    : result.hornOn == Outcome::ErrorReport || result.hornOff == Outcome::ErrorReport
                        ? kErrorReport
                        : kNoAnswer);
}

void SessionRecorder::RecordProfileApply(const QString &profile, const ProfilePlan &plan,
                                         const ProfileApplyResult &result)
{
    if (result.writes.empty())
        return;
    std::map<QString, QString> mismatched;
    for (const ProfileDifference &m : result.mismatches)
        mismatched[m.key] = m.instrument;
    std::vector<WriteChange> changes;
    for (const ProfileDifference &d : plan.differences) {
        QString after;
        if (result.written())
            after = mismatched.count(d.key) ? mismatched[d.key] : d.profile;
        changes.push_back({d.key, d.instrument, d.profile, after});
    }
    QString outcome = result.matches() ? kReadBackEqual : result.written() ? kReadBackDifferent : kNoAnswer;
    if (!result.written()) {
        const Outcome last = result.writes.back().outcome;
        outcome = result.interrupted ? QStringLiteral("cancelled")
                  : last == Outcome::Done ? kNoAnswer
                                                       : OutcomeOf(last);
    }
    QString detail = result.failure;
    if (!result.written() || !result.mismatches.empty()) {
        QStringList titles = result.writtenTitles();
        detail = QStringLiteral("%1%2written: %3")
                     .arg(detail, detail.isEmpty() ? QString() : QStringLiteral("; "),
                          titles.isEmpty() ? QStringLiteral("nothing") : titles.join(QStringLiteral(", ")));
    }
    RecordWrite(QStringLiteral("profile %1").arg(profile), changes, outcome, detail);
}

void SessionRecorder::CalibrationStarted(const QJsonObject &unfinished)
{
    calibration_ = unfinished;
}

void SessionRecorder::Flush()
{
    if (identity_) {
        FlushConnection();
        FlushSettings();
    }
    // Queued records are on record before what follows reads them, unless
    // the database keeps them waiting.
    if (store_)
        store_->Drain(kQueuedDrainMs);
}

void SessionRecorder::Finish()
{
    if (calibration_) {
        const QJsonObject body = *calibration_;
        calibration_.reset();
        Append(kind::kCalibration, body);
    }
    Flush();
    held_.clear();
    identity_.reset();
    clockOffset_.reset();
    lastValue_.reset();
    range_.reset();
    connectionPending_ = false;
    settingsRead_.clear();
    lastSettings_.reset();
    lastBump_.reset();
}

} // namespace r310::records
