#include "SettingsProfile.h"

#include "DataLoggerDownload.h"
#include "LoggerRecords.h"

#include <Formats.h>
#include <GasTable.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSaveFile>

#include <algorithm>
#include <set>

namespace r310 {

namespace {

const QString kFormatEntry = QStringLiteral("format");
const QString kVersionEntry = QStringLiteral("version");
const QString kInstrumentEntry = QStringLiteral("instrument");
const QString kSettingsEntry = QStringLiteral("settings");

// The texts of the instrument object, each with its member.
const std::vector<std::pair<QString, QString ProfileSource::*>> &SourceTexts()
{
    static const std::vector<std::pair<QString, QString ProfileSource::*>> texts = {
        {QStringLiteral("serialNumber"), &ProfileSource::serialNumber},
        {QStringLiteral("gas"), &ProfileSource::gas},
        {QStringLiteral("unit"), &ProfileSource::unit},
        {QStringLiteral("range"), &ProfileSource::range},
        {QStringLiteral("softwareVersion"), &ProfileSource::softwareVersion},
        {QStringLiteral("saved"), &ProfileSource::saved},
    };
    return texts;
}

const std::vector<std::pair<QString, int ProfileSource::*>> &SourceCodes()
{
    static const std::vector<std::pair<QString, int ProfileSource::*>> codes = {
        {QStringLiteral("gasCode"), &ProfileSource::gasCode},
        {QStringLiteral("unitCode"), &ProfileSource::unitCode},
    };
    return codes;
}

SettingsValueKind KindOf(const QString &key)
{
    if (key == kLoggerIntervalKey)
        return SettingsValueKind::Number;
    return FindSettingsKey(key)->kind;
}

// Every key a profile may hold, in the order a profile lists them.
QStringList ProfileKeys()
{
    QStringList keys;
    for (const SettingsKey &key : SettingsKeys())
        keys.append(key.name);
    keys.append(kLoggerIntervalKey);
    return keys;
}

// The form of a value as `set` checks it: empty, or why not.
QString CheckValue(const QString &key, const QString &value)
{
    if (key != kLoggerIntervalKey)
        return FindSettingsKey(key)->check(value);
    const logs::LoggerIntervalInput input = logs::LoggerIntervalFromText(value);
    return input.ok() ? QString() : QStringLiteral("%1: %2").arg(key, input.message);
}

// A JSON value as the text `set` takes, or why it has the wrong type.
QString ValueText(const QString &key, const QJsonValue &json, QString *why)
{
    switch (KindOf(key)) {
    case SettingsValueKind::Number:
        if (json.isDouble())
            return QString::number(json.toDouble(), 'f', QLocale::FloatingPointShortest);
        *why = QStringLiteral("%1: a number is expected").arg(key);
        return {};
    case SettingsValueKind::Switch:
        if (json.isBool())
            return json.toBool() ? QStringLiteral("on") : QStringLiteral("off");
        *why = QStringLiteral("%1: true or false is expected").arg(key);
        return {};
    case SettingsValueKind::Word:
        if (json.isString())
            return json.toString();
        *why = QStringLiteral("%1: one of the words %2 is expected").arg(key, FindSettingsKey(key)->allowed);
        return {};
    case SettingsValueKind::Text:
        break;
    }
    if (json.isString())
        return json.toString();
    *why = QStringLiteral("%1: a text is expected").arg(key);
    return {};
}

QJsonValue JsonValue(const ProfileSetting &setting)
{
    switch (KindOf(setting.key)) {
    case SettingsValueKind::Number:
        return QLocale::c().toDouble(setting.value);
    case SettingsValueKind::Switch:
        return setting.value == QLatin1String("on");
    case SettingsValueKind::Word:
    case SettingsValueKind::Text:
        break;
    }
    return setting.value;
}

void ParseSource(const QJsonValue &json, ProfileSource &source, QStringList &errors)
{
    if (json.isUndefined())
        return;
    if (!json.isObject()) {
        errors.append(QStringLiteral("\"instrument\" is not an object"));
        return;
    }
    const QJsonObject object = json.toObject();
    std::set<QString> known;
    for (const auto &[name, member] : SourceTexts()) {
        known.insert(name);
        const QJsonValue value = object.value(name);
        if (value.isString())
            source.*member = value.toString();
        else if (!value.isUndefined())
            errors.append(QStringLiteral("instrument: \"%1\" is not a text").arg(name));
    }
    for (const auto &[name, member] : SourceCodes()) {
        known.insert(name);
        const QJsonValue value = object.value(name);
        const double code = value.toDouble(-1);
        if (value.isDouble() && code >= 0 && code <= 255 && code == static_cast<int>(code))
            source.*member = static_cast<int>(code);
        else if (!value.isUndefined())
            errors.append(QStringLiteral("instrument: \"%1\" is not a code from 0 to 255").arg(name));
    }
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (known.count(it.key()) == 0)
            errors.append(QStringLiteral("instrument: unknown entry \"%1\"").arg(it.key()));
    }
}

void ParseSettings(const QJsonValue &json, SettingsProfile &profile, QStringList &errors)
{
    if (!json.isObject()) {
        errors.append(QStringLiteral("\"settings\" is missing or not an object"));
        return;
    }
    const QJsonObject object = json.toObject();
    const QStringList keys = ProfileKeys();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!keys.contains(it.key()))
            errors.append(QStringLiteral("unknown setting \"%1\" (r310ctl set --help lists the keys)").arg(it.key()));
    }
    for (const QString &key : keys) {
        const QJsonValue value = object.value(key);
        if (value.isUndefined())
            continue;
        QString why;
        const QString text = ValueText(key, value, &why);
        if (why.isEmpty())
            why = CheckValue(key, text);
        if (why.isEmpty())
            profile.settings.push_back({key, text});
        else
            errors.append(why);
    }
    if (object.isEmpty())
        errors.append(QStringLiteral("\"settings\" holds no setting"));
}

QString Join(const QStringList &lines) { return lines.join(u'\n'); }

// "CO (code 1)", or "code 1" where no name is known.
QString Named(const QString &name, int code)
{
    return name.isEmpty() ? QStringLiteral("code %1").arg(code) : QStringLiteral("%1 (code %2)").arg(name).arg(code);
}

// The profile is for another gas or unit: the refusal, or empty. The codes
// decide where the profile gives them, else the names.
QString Mismatch(const QString &what, int profileCode, const QString &profileName, std::uint8_t instrumentCode,
                 const QString &instrumentName)
{
    const bool differs = profileCode >= 0 ? profileCode != instrumentCode
                                          : !profileName.isEmpty() && profileName != instrumentName;
    if (!differs)
        return {};
    return QStringLiteral("the profile is for the %1 %2, the instrument has %3; nothing was written")
        .arg(what, profileCode < 0 ? profileName : Named(profileName, profileCode),
             Named(instrumentName, instrumentCode));
}

void PlanLoggerInterval(const ProfileSetting &setting, const InstrumentSettings &instrument, ProfilePlan &plan)
{
    if (!instrument.loggerInterval) {
        plan.refusals.append(QStringLiteral("%1: software version %2 has no data logger")
                                 .arg(setting.key, FormatSoftwareVersion(instrument.draft.softwareVersion)));
        return;
    }
    const logs::LoggerIntervalInput input = logs::LoggerIntervalFromText(setting.value);
    if (!input.ok()) {
        plan.refusals.append(QStringLiteral("%1: %2").arg(setting.key, input.message));
        return;
    }
    if (*input.seconds == *instrument.loggerInterval)
        return;
    plan.differences.push_back({setting.key, QString::number(*instrument.loggerInterval), setting.value});
    plan.loggerInterval = *input.seconds;
}

// "the alarm settings: the instrument did not answer"
QString ReadFailure(Outcome outcome, const QString &what)
{
    // Answered, but not with the object asked for.
    const Outcome why = outcome == Outcome::Done ? Outcome::WrongAnswer : outcome;
    return QStringLiteral("the %1: %2").arg(what, OutcomeText(why));
}

void ReadSettings(JobContext &job, InstrumentSettingsRead &result)
{
    const auto read = [&job, &result](std::uint8_t object, const QString &what) {
        ObjectRead answer = ReadObjectAnswer(job, object);
        if (!answer.answer) {
            result.failure = ReadFailure(answer.outcome, what);
            result.interrupted = answer.outcome == Outcome::PortClosed
                              || answer.outcome == Outcome::Cancelled;
        }
        return answer;
    };
    const ObjectRead identity = read(kObjectIdentity, QStringLiteral("identity"));
    if (!identity.answer || !identity.answer->identity)
        return;
    InstrumentSettings &settings = result.settings;
    settings.identity = *identity.answer->identity;
    settings.draft = SettingsDraft::FromDecoded(settings.identity.softwareVersion, nullptr, nullptr, nullptr);
    for (const SettingsGroupCommand &group : SettingsGroups()) {
        const ObjectRead answer = group.object == kObjectIdentity ? identity : read(group.object, group.title);
        if (!answer.answer)
            return;
        if (!settings.draft.Take(group.object, answer.payload)) {
            result.failure = QStringLiteral("the instrument reported its %1 too short").arg(group.title);
            return;
        }
    }
    if (!settings.draft.gates.dataloggingTabVisible)
        return;
    const logs::LoggerAnswer logger = logs::ReadLoggerInfo(job);
    const std::optional<logs::LoggerInfo> info = logger.ok() ? logs::LoggerInfoFromAnswer(logger.frame) : std::nullopt;
    if (!info) {
        result.failure = ReadFailure(logger.failure, QStringLiteral("data logger's information"));
        return;
    }
    settings.loggerInterval = info->interval();
}

// Writes the data logger's interval; false when it did not go through.
bool WriteLoggerInterval(JobContext &job, std::uint16_t seconds, ProfileApplyResult &result,
                         std::optional<std::uint16_t> &held)
{
    const QString title = QStringLiteral("data logger");
    auto written = std::make_shared<logs::LoggerCommandResult>();
    logs::SetLoggerIntervalJob(seconds, written)(job);
    const bool readBack = written->accepted() && written->infoAfter.has_value();
    result.writes.push_back({title, readBack ? Outcome::Done : Outcome::NoAnswer, {}});
    if (!written->accepted()) {
        result.failure = written->failureText(kLoggerIntervalKey);
        return false;
    }
    if (!written->infoAfter) {
        result.failure = QStringLiteral("%1: written, but reading it back failed").arg(kLoggerIntervalKey);
        return false;
    }
    held = written->infoAfter->interval();
    return true;
}

void ApplyPlan(JobContext &job, const ProfilePlan &plan, ProfileApplyResult &result)
{
    SettingsDraft held = plan.target;
    for (const SettingsGroupCommand *group : plan.groups) {
        if (job.cancelled()) {
            result.failure = QStringLiteral("cancelled");
            result.interrupted = true;
            return;
        }
        auto written = std::make_shared<SettingsWriteResult>();
        group->write(plan.target, written)(job);
        result.writes.push_back({group->title, written->outcome, written->sent});
        if (!written->done()) {
            result.interrupted = written->outcome == Outcome::PortClosed
                              || written->outcome == Outcome::Cancelled;
            const QString why = written->refusal.isEmpty() ? OutcomeText(written->outcome)
                                                           : written->refusal;
            result.failure = QStringLiteral("%1: %2").arg(group->title, why);
            return;
        }
        held.Take(group->object, written->readBackPayload);
        for (const SettingsKey &key : SettingsKeys()) {
            if (key.group == group->group && key.text(held) != key.text(plan.target))
                result.mismatches.push_back({key.name, key.text(held), key.text(plan.target)});
        }
    }
    if (!plan.loggerInterval)
        return;
    if (job.cancelled()) {
        result.failure = QStringLiteral("cancelled");
        result.interrupted = true;
        return;
    }
    std::optional<std::uint16_t> interval;
    if (WriteLoggerInterval(job, *plan.loggerInterval, result, interval) && *interval != *plan.loggerInterval)
        result.mismatches.push_back(
            {kLoggerIntervalKey, QString::number(*interval), QString::number(*plan.loggerInterval)});
}

} // namespace

bool ProfileSource::operator==(const ProfileSource &other) const
{
    return serialNumber == other.serialNumber && gas == other.gas && unit == other.unit && gasCode == other.gasCode
        && unitCode == other.unitCode && range == other.range && softwareVersion == other.softwareVersion
        && saved == other.saved;
}

const ProfileSetting *SettingsProfile::find(const QString &key) const
{
    const auto found = std::find_if(settings.begin(), settings.end(),
                                    [&key](const ProfileSetting &s) { return s.key == key; });
    return found == settings.end() ? nullptr : &*found;
}

SettingsProfileParse ParseSettingsProfile(const QByteArray &bytes)
{
    if (bytes.size() > kMaxProfileBytes)
        return {std::nullopt, QStringLiteral("the file is larger than a settings profile can be (%1 bytes at most)")
                                  .arg(kMaxProfileBytes)};
    if (bytes.trimmed().isEmpty())
        return {std::nullopt, QStringLiteral("the file is empty")};
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {std::nullopt, QStringLiteral("not a settings profile: %1 at byte %2")
                                  .arg(parseError.errorString())
                                  .arg(parseError.offset)};
    if (!document.isObject())
        return {std::nullopt, QStringLiteral("not a settings profile: the file holds no JSON object")};
    const QJsonObject root = document.object();
    if (root.value(kFormatEntry).toString() != kProfileFormat)
        return {std::nullopt, QStringLiteral("not a settings profile: \"format\" is not \"%1\"").arg(kProfileFormat)};
    const QJsonValue version = root.value(kVersionEntry);
    if (!version.isDouble() || version.toDouble() != kProfileVersion) {
        if (version.isDouble() && version.toDouble() > kProfileVersion)
            return {std::nullopt, QStringLiteral("the profile has version %1; this configurator reads version %2")
                                      .arg(version.toDouble())
                                      .arg(kProfileVersion)};
        return {std::nullopt, QStringLiteral("\"version\" is not %1").arg(kProfileVersion)};
    }

    QStringList errors;
    for (auto it = root.begin(); it != root.end(); ++it) {
        const QString &entry = it.key();
        if (entry != kFormatEntry && entry != kVersionEntry && entry != kInstrumentEntry && entry != kSettingsEntry)
            errors.append(QStringLiteral("unknown entry \"%1\"").arg(entry));
    }
    SettingsProfile profile;
    ParseSource(root.value(kInstrumentEntry), profile.source, errors);
    ParseSettings(root.value(kSettingsEntry), profile, errors);
    if (!errors.isEmpty())
        return {std::nullopt, Join(errors)};
    return {std::move(profile), {}};
}

QByteArray SettingsProfileJson(const SettingsProfile &profile)
{
    QJsonObject source;
    for (const auto &[name, member] : SourceTexts()) {
        if (!(profile.source.*member).isEmpty())
            source.insert(name, profile.source.*member);
    }
    for (const auto &[name, member] : SourceCodes()) {
        if (profile.source.*member >= 0)
            source.insert(name, profile.source.*member);
    }
    QJsonObject settings;
    for (const ProfileSetting &setting : profile.settings)
        settings.insert(setting.key, JsonValue(setting));
    const QJsonObject root{{kFormatEntry, kProfileFormat},
                           {kVersionEntry, kProfileVersion},
                           {kInstrumentEntry, source},
                           {kSettingsEntry, settings}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

SettingsProfileParse ReadSettingsProfile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {std::nullopt, QStringLiteral("%1: no such file").arg(path)};
    if (info.isDir())
        return {std::nullopt, QStringLiteral("%1: is a folder, not a settings profile").arg(path)};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, QStringLiteral("%1: %2").arg(path, file.errorString())};
    // One byte more than a profile may have tells a file that is too large,
    // also one whose size the system does not know in advance.
    const QByteArray bytes = file.read(kMaxProfileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return {std::nullopt, QStringLiteral("%1: %2").arg(path, file.errorString())};
    SettingsProfileParse parsed = ParseSettingsProfile(bytes);
    if (!parsed.profile) {
        QStringList lines = parsed.error.split(u'\n');
        for (QString &line : lines)
            line.prepend(path + QStringLiteral(": "));
        parsed.error = Join(lines);
    }
    return parsed;
}

QString WriteSettingsProfile(const QString &path, const SettingsProfile &profile)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    const QByteArray json = SettingsProfileJson(profile);
    if (file.write(json) != json.size() || !file.commit())
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    return {};
}

ConnectionJob ReadInstrumentSettingsJob(std::shared_ptr<InstrumentSettingsRead> result)
{
    return [result](JobContext &job) { ReadSettings(job, *result); };
}

SettingsProfile ProfileOf(const InstrumentSettings &instrument, const GasTable *gasTable, bool withCustomerId,
                          QStringList *leftOut)
{
    SettingsProfile profile;
    ProfileSource &source = profile.source;
    source.serialNumber = instrument.identity.serialNumberText;
    source.softwareVersion = instrument.identity.softwareVersionText;
    source.saved = QDateTime::currentDateTime().toString(Qt::ISODate);
    if (const std::optional<RangeAlarmSettings> &range = instrument.draft.range) {
        source.gasCode = range->gasCode;
        source.unitCode = range->unitCode;
        source.gas = gasTable ? gasTable->GasNameText(range->gasCode) : QString();
        source.unit = gasTable ? gasTable->GasUnitText(range->unitCode) : QString();
        source.range = range->rangeEndText;
    }
    const auto add = [&profile, leftOut](const QString &key, QString value) {
        // Numbers as the file writes them ("60", not "60.0"), so a saved
        // profile reads back to the same values.
        if (KindOf(key) == SettingsValueKind::Number)
            value = QString::number(QLocale::c().toDouble(value), 'f', QLocale::FloatingPointShortest);
        if (const QString why = CheckValue(key, value); !why.isEmpty()) {
            if (leftOut)
                leftOut->append(QStringLiteral("%1 left out: the instrument holds \"%2\", which cannot be applied (%3)")
                                    .arg(key, value, why));
            return;
        }
        profile.settings.push_back({key, value});
    };
    for (const SettingsKey &key : SettingsKeys()) {
        const bool customerId = key.group == SettingsGroup::CustomerId;
        if (customerId && (!withCustomerId || instrument.draft.more.count(key.name) == 0))
            continue;
        const QString value = key.text(instrument.draft);
        if (!value.isEmpty() || customerId)
            add(key.name, value);
    }
    if (instrument.loggerInterval)
        add(kLoggerIntervalKey, QString::number(*instrument.loggerInterval));
    return profile;
}

ProfilePlan PlanProfile(const SettingsProfile &profile, const InstrumentSettings &instrument,
                        const GasTable *gasTable, bool unusualOrderAllowed)
{
    ProfilePlan plan;
    plan.target = instrument.draft;
    plan.target.unusualOrderAllowed = unusualOrderAllowed;
    plan.instrument.serialNumber = instrument.identity.serialNumber;
    plan.instrument.softwareVersion = instrument.identity.softwareVersion;
    if (const std::optional<RangeAlarmSettings> &range = instrument.draft.range) {
        plan.instrument.decimalExponent = range->exponent;
        plan.instrument.gasCode = range->gasCode;
        plan.instrument.unitCode = range->unitCode;
        const ProfileSource &source = profile.source;
        for (const QString &refusal :
             {Mismatch(QStringLiteral("gas"), source.gasCode, source.gas, range->gasCode,
                       gasTable ? gasTable->GasNameText(range->gasCode) : QString()),
              Mismatch(QStringLiteral("unit"), source.unitCode, source.unit, range->unitCode,
                       gasTable ? gasTable->GasUnitText(range->unitCode) : QString())}) {
            if (!refusal.isEmpty())
                plan.refusals.append(refusal);
        }
    }
    std::set<SettingsGroup> touched;
    for (const ProfileSetting &setting : profile.settings) {
        if (setting.key == kLoggerIntervalKey) {
            PlanLoggerInterval(setting, instrument, plan);
            continue;
        }
        const SettingsKey *key = FindSettingsKey(setting.key);
        if (!key) {
            plan.refusals.append(QStringLiteral("unknown setting \"%1\"").arg(setting.key));
            continue;
        }
        const QString before = key->text(plan.target);
        if (const QString refusal = key->apply(plan.target, setting.value); !refusal.isEmpty()) {
            plan.refusals.append(refusal);
            continue;
        }
        // A number the instrument's scale cannot hold exactly was refused
        // by the key itself, as `set` refuses it.
        const QString after = key->text(plan.target);
        if (before != after) {
            plan.differences.push_back({key->name, before, after});
            touched.insert(key->group);
        }
    }
    for (const SettingsGroupCommand &group : SettingsGroups()) {
        if (touched.count(group.group) == 0)
            continue;
        const SettingsPayload payload = group.payload(plan.target);
        if (!payload.ok())
            plan.refusals.append(QStringLiteral("%1: %2").arg(group.title, payload.refusal));
        plan.groups.push_back(&group);
    }
    return plan;
}

QStringList ProfileApplyResult::writtenTitles() const
{
    QStringList titles;
    for (const ProfileGroupWrite &write : writes) {
        if (write.outcome == Outcome::Done)
            titles.append(write.title);
    }
    return titles;
}

ConnectionJob ApplyProfileJob(ProfilePlan plan, std::shared_ptr<ProfileApplyResult> result)
{
    return [plan = std::move(plan), result](JobContext &job) {
        job.prepareWritesFor(plan.instrument);
        if (plan.ok())
            ApplyPlan(job, plan, *result);
        else
            result->failure = plan.refusals.join(QStringLiteral("; "));
    };
}

} // namespace r310
