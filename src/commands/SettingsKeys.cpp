#include "SettingsKeys.h"

#include "CustomerId.h"
#include "Formats.h"
#include "SettingsDecoding.h"

#include <algorithm>
#include <array>

namespace r310 {

namespace {

const QLocale kCommandLine = QLocale::c();

const QString kOn = QStringLiteral("on");
const QString kOff = QStringLiteral("off");
const QString kOnOff = QStringLiteral("on|off");

std::optional<bool> OnOffValue(const QString &value)
{
    if (value.compare(kOn, Qt::CaseInsensitive) == 0)
        return true;
    if (value.compare(kOff, Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

bool Holds(const SettingsDraft &d, SettingsGroup group)
{
    switch (group) {
    case SettingsGroup::Limits:
        return d.range.has_value();
    case SettingsGroup::Signals:
        return d.signalSettings.has_value();
    case SettingsGroup::Hardware:
        return d.hardware.has_value();
    case SettingsGroup::CustomerId:
        break;
    }
    return false;
}

QString NotRead(const QString &key)
{
    return QStringLiteral("%1: the instrument's settings were not read; nothing was sent").arg(key);
}

// An option a software version may lack: the first version that offers it.
struct Gate {
    bool FeatureGates::*enabled = nullptr;
    std::int32_t fromVersion = 0;
};

QString GateRefusal(const QString &key, const SettingsDraft &d, const Gate &gate)
{
    if (!gate.enabled || d.gates.*gate.enabled)
        return {};
    return QStringLiteral("%1: software version %2 does not offer this option (from %3 on)")
        .arg(key, FormatSoftwareVersion(d.softwareVersion), FormatSoftwareVersion(gate.fromVersion));
}

// Keys whose value is "on" or "off". field(draft) is the bool it sets.
template <typename Field>
SettingsKey OnOffKey(const QString &name, SettingsGroup group, Field field, Gate gate = {})
{
    SettingsKey key{name, group, kOnOff, {}, {}, {}};
    key.kind = SettingsValueKind::Switch;
    key.check = [name](const QString &value) {
        return OnOffValue(value) ? QString() : SettingRefusal(SettingsKey{name, {}, kOnOff, {}, {}, {}},
                                                              QStringLiteral("'%1' is neither on nor off").arg(value));
    };
    key.apply = [name, group, field, gate](SettingsDraft &d, const QString &value) {
        if (!Holds(d, group))
            return NotRead(name);
        if (QString refusal = GateRefusal(name, d, gate); !refusal.isEmpty())
            return refusal;
        field(d) = *OnOffValue(value);
        return QString();
    };
    key.text = [group, field, gate](const SettingsDraft &d) {
        if (!Holds(d, group) || (gate.enabled && !(d.gates.*gate.enabled)))
            return QString();
        return field(d) ? kOn : kOff;
    };
    return key;
}

// Keys that pick one of four items; field(draft) is the item index.
template <typename Field>
SettingsKey ChoiceKey(const QString &name, SettingsGroup group, const std::array<const char *, 4> &items, Field field)
{
    QStringList names;
    for (const char *item : items)
        names.append(QString::fromLatin1(item));
    const QString allowed = names.join(u'|');
    SettingsKey key{name, group, allowed, {}, {}, {}};
    key.check = [name, names, allowed](const QString &value) {
        return names.contains(value, Qt::CaseInsensitive)
                   ? QString()
                   : SettingRefusal(SettingsKey{name, {}, allowed, {}, {}, {}},
                                    QStringLiteral("'%1' is none of the choices").arg(value));
    };
    key.apply = [name, group, names, field](SettingsDraft &d, const QString &value) {
        if (!Holds(d, group))
            return NotRead(name);
        field(d) = static_cast<int>(names.indexOf(value.toLower()));
        return QString();
    };
    key.text = [group, names, field](const SettingsDraft &d) {
        const int index = field(d);
        if (!Holds(d, group) || index < 0 || index >= names.size())
            return QString();
        return names.at(index);
    };
    return key;
}

// Whole numbers within [min, max]; field(draft) is the std::int32_t it sets.
template <typename Field>
SettingsKey IntegerKey(const QString &name, SettingsGroup group, std::int32_t min, std::int32_t max,
                       const QString &unit, Field field)
{
    const QString allowed = QStringLiteral("%1 to %2%3").arg(min).arg(max).arg(unit.isEmpty() ? QString() : u' ' + unit);
    SettingsKey key{name, group, allowed, {}, {}, {}};
    key.kind = SettingsValueKind::Number;
    key.check = [name, allowed, min, max](const QString &value) {
        const Conversion<std::int32_t> converted = IntegerInRange(name, value, min, max, kCommandLine);
        if (converted)
            return QString();
        // A value out of range names the key and the range already.
        if (IntegerValue(value, kCommandLine))
            return converted.error;
        return SettingRefusal(SettingsKey{name, {}, allowed, {}, {}, {}}, converted.error);
    };
    key.apply = [name, group, min, max, field](SettingsDraft &d, const QString &value) {
        if (!Holds(d, group))
            return NotRead(name);
        field(d) = *IntegerInRange(name, value, min, max, kCommandLine).value;
        return QString();
    };
    key.text = [group, field](const SettingsDraft &d) {
        return Holds(d, group) ? QString::number(field(d)) : QString();
    };
    return key;
}

// Gas concentrations in the instrument's unit; field(draft) is the raw value.
template <typename Field>
SettingsKey GasKey(const QString &name, Field field)
{
    const QString allowed = QStringLiteral("a number in the instrument's unit, \".\" as decimal point");
    SettingsKey key{name, SettingsGroup::Limits, allowed, {}, {}, {}};
    key.kind = SettingsValueKind::Number;
    key.check = [name, allowed](const QString &value) {
        return IsDecimalNumber(value, kCommandLine)
                   ? QString()
                   : SettingRefusal(SettingsKey{name, {}, allowed, {}, {}, {}}, NotAFloatMessage(value));
    };
    key.apply = [name, field](SettingsDraft &d, const QString &value) {
        if (!d.range)
            return NotRead(name);
        const Conversion<std::int16_t> raw = ExactGasValueToRawDot(name, value, d.range->exponent);
        if (!raw)
            return raw.error;
        field(d) = *raw.value;
        return QString();
    };
    key.text = [field](const SettingsDraft &d) {
        return d.range ? GasValueTextDot(field(d), d.range->exponent) : QString();
    };
    return key;
}

const std::array<const char *, kAlarmCount> kLimitKeys = {"a1", "a2", "a3", "stel", "twa"};
const char *const kCalibrationGasKey = "cal-gas";

AlarmFieldNames LimitKeyNames()
{
    AlarmFieldNames names;
    for (std::size_t i = 0; i < kAlarmCount; ++i)
        names[i] = QString::fromLatin1(kLimitKeys[i]);
    names[kAlarmCount] = QString::fromLatin1(kCalibrationGasKey);
    return names;
}

void AddLimitKeys(std::vector<SettingsKey> &keys)
{
    const std::array<const char *, kAlarmCount> &names = kLimitKeys;
    for (std::size_t i = 0; i < kAlarmCount; ++i)
        keys.push_back(GasKey(QString::fromLatin1(names[i]), [i](auto &d) -> auto & { return d.limits.thresholds[i]; }));
    keys.push_back(GasKey(QString::fromLatin1(kCalibrationGasKey), [](auto &d) -> auto & { return d.limits.calibrationGas; }));
    for (std::size_t i = 0; i < kAlarmCount; ++i) {
        const QString threshold = QString::fromLatin1(names[i]);
        constexpr SettingsGroup g = SettingsGroup::Limits;
        keys.push_back(OnOffKey(threshold + QStringLiteral("-fall-below"), g,
                                [i](auto &d) -> auto & { return d.limits.flags[i].fallBelow; }));
        keys.push_back(OnOffKey(threshold + QStringLiteral("-latching"), g,
                                [i](auto &d) -> auto & { return d.limits.flags[i].latching; }));
        keys.push_back(OnOffKey(threshold + QStringLiteral("-horn-off"), g,
                                [i](auto &d) -> auto & { return d.limits.flags[i].hornMayBeSilenced; }));
    }
}

void AddSignalKeys(std::vector<SettingsKey> &keys)
{
    constexpr SettingsGroup g = SettingsGroup::Signals;
    const std::array<const char *, 4> signalModes = {"off", "soft", "louder", "optical"};
    keys.push_back(ChoiceKey(QStringLiteral("bleep"), g, signalModes,
                             [](auto &d) -> auto & { return d.signalValues.confidenceBleep; }));
    keys.push_back(ChoiceKey(QStringLiteral("vibrator"), g, {"off", "short", "moderate", "long"},
                             [](auto &d) -> auto & { return d.signalValues.vibrator; }));
    keys.push_back(ChoiceKey(QStringLiteral("key-response"), g, signalModes,
                             [](auto &d) -> auto & { return d.signalValues.keyResponse; }));
    keys.push_back(ChoiceKey(QStringLiteral("warm-up"), g, signalModes,
                             [](auto &d) -> auto & { return d.signalValues.warmUpSignal; }));
    keys.push_back(IntegerKey(QStringLiteral("bleep-interval"), g, kBleepIntervalMin, kBleepIntervalMax,
                              QStringLiteral("seconds"),
                              [](auto &d) -> auto & { return d.signalValues.bleepIntervalSeconds; }));
    keys.push_back(ChoiceKey(QStringLiteral("date-format"), g, {"dd.mm.yyyy", "mm/dd/yy", "dd/mm/yy", "yy-mm-dd"},
                             [](auto &d) -> auto & { return d.signalValues.dateFormat; }));
    keys.push_back(ChoiceKey(QStringLiteral("wake-up"), g, {"alarm", "quick", "middle", "slow"},
                             [](auto &d) -> auto & { return d.signalValues.wakeUpMode; }));
    keys.push_back(OnOffKey(QStringLiteral("time-12h"), g, [](auto &d) -> auto & { return d.signalValues.clock12h; }));
    keys.push_back(OnOffKey(QStringLiteral("show-time"), g, [](auto &d) -> auto & { return d.signalValues.showTime; }));
    keys.push_back(OnOffKey(QStringLiteral("show-seconds"), g,
                            [](auto &d) -> auto & { return d.signalValues.showSeconds; }));
    keys.push_back(OnOffKey(QStringLiteral("bump-alarm"), g, [](auto &d) -> auto & { return d.signalValues.bumpAlarm; }));
    keys.push_back(IntegerKey(QStringLiteral("bump-interval"), g, kBumpIntervalMin, kBumpIntervalMax,
                              QStringLiteral("days"), [](auto &d) -> auto & { return d.signalValues.bumpIntervalDays; }));
    keys.push_back(IntegerKey(QStringLiteral("cal-interval"), g, kCalibrationIntervalMin, kCalibrationIntervalMax,
                              QStringLiteral("days"),
                              [](auto &d) -> auto & { return d.signalValues.calibrationIntervalDays; }));
    keys.push_back(IntegerKey(QStringLiteral("bump-info"), g, kBumpInfoMin, kBumpInfoMax, QString(),
                              [](auto &d) -> auto & { return d.signalValues.bumpInfo; }));
}

void AddHardwareKeys(std::vector<SettingsKey> &keys)
{
    constexpr SettingsGroup g = SettingsGroup::Hardware;
    const Gate safety{&FeatureGates::safetyOptionsEnabled, kSafetyOptionsFromVersion};
    const Gate display{&FeatureGates::displayModeEnabled, kDisplayModeFromVersion};
    keys.push_back(OnOffKey(QStringLiteral("service-keyboard"), g,
                            [](auto &d) -> auto & { return d.hardwareOptions.serviceOverKeyboard; }));
    keys.push_back(OnOffKey(QStringLiteral("vibrator-disabled"), g,
                            [](auto &d) -> auto & { return d.hardwareOptions.vibratorDisabled; }));
    keys.push_back(OnOffKey(QStringLiteral("only-test-key"), g,
                            [](auto &d) -> auto & { return d.hardwareOptions.onlyTestKey; }));
    keys.push_back(OnOffKey(QStringLiteral("data-safety"), g,
                            [](auto &d) -> auto & { return d.hardwareOptions.dataSafety; }, safety));
    keys.push_back(OnOffKey(QStringLiteral("best-resolution"), g,
                            [](auto &d) -> auto & { return d.hardwareOptions.bestResolution; }, safety));
    keys.push_back(OnOffKey(QStringLiteral("display-mode"), g,
                            [](auto &d) -> auto & { return d.hardwareOptions.displayMode; }, display));
}

HardwareCalibration CalibrationOf(const HardwareSettings &h)
{
    return {h.zeroPoint, h.gain, h.referenceVoltage};
}

std::vector<SettingsGroupCommand> BuildGroups()
{
    std::vector<SettingsGroupCommand> groups;
    groups.push_back({SettingsGroup::Limits, QStringLiteral("alarm limits"), kObjectRange, {{8, 15}, {23, 2}},
                      [](const SettingsDraft &d) {
                          if (!d.range)
                              return SettingsPayload::Refused(QStringLiteral("the alarm limits were not read"));
                          const QString outside = LimitsOutsideRangeRefusal(
                              d.limits, MeasuringRange::FromDecoded(*d.range), LimitKeyNames(), kCommandLine);
                          if (!outside.isEmpty())
                              return SettingsPayload::Refused(outside);
                          if (!d.unusualOrderAllowed) {
                              const QString order =
                                  UnusualAlarmOrder(d.limits, d.range->exponent, LimitKeyNames(), kCommandLine);
                              if (!order.isEmpty())
                                  return SettingsPayload::Refused(
                                      order + QStringLiteral("; nothing was sent (--force writes this order)"));
                          }
                          return SettingsPayload{AlarmSettingsPayload(d.limits), {}};
                      },
                      [](const SettingsDraft &d, std::shared_ptr<SettingsWriteResult> result) {
                          return AlarmSettingsJob(d.limits, std::move(result));
                      }});
    groups.push_back({SettingsGroup::Signals, QStringLiteral("signals and service intervals"), kObjectSignals,
                      {{0, 12}},
                      [](const SettingsDraft &d) { return SignalSettingsPayload(d.signalValues); },
                      [](const SettingsDraft &d, std::shared_ptr<SettingsWriteResult> result) {
                          return SignalSettingsJob(d.signalValues, std::move(result));
                      }});
    groups.push_back({SettingsGroup::Hardware, QStringLiteral("hardware options"), kObjectHardware, {{1, 7}},
                      [](const SettingsDraft &d) {
                          if (!d.hardware)
                              return SettingsPayload::Refused(QStringLiteral("the hardware settings were not read"));
                          return SettingsPayload{
                              HardwareSettingsPayload(CalibrationOf(*d.hardware), d.hardwareOptions, d.gates), {}};
                      },
                      // The hardware command reads the instrument's own sensor values itself.
                      [](const SettingsDraft &d, std::shared_ptr<SettingsWriteResult> result) {
                          return HardwareSettingsJob(d.hardwareOptions, std::move(result));
                      }});
    groups.push_back(CustomerIdSettingsGroup());
    return groups;
}

} // namespace

SettingsDraft SettingsDraft::FromDecoded(std::int32_t softwareVersion, const RangeAlarmSettings *range,
                                         const SignalSettings *signalSettings, const HardwareSettings *hardware)
{
    SettingsDraft d;
    d.softwareVersion = softwareVersion;
    d.gates = GatesForVersion(softwareVersion);
    if (range) {
        d.range = *range;
        d.limits = AlarmSettingsValues::FromDecoded(*range);
    }
    if (signalSettings) {
        d.signalSettings = *signalSettings;
        d.signalValues = SignalSettingsValues::FromDecoded(*signalSettings);
    }
    if (hardware) {
        d.hardware = *hardware;
        d.hardwareOptions = HardwareOptions::FromDecoded(*hardware);
    }
    return d;
}

bool SettingsDraft::Take(std::uint8_t object, const std::vector<std::uint8_t> &payload)
{
    if (payload.size() < static_cast<std::size_t>(ObjectPayloadSize(object)) || ObjectPayloadSize(object) == 0)
        return false;
    switch (object) {
    case kObjectRange:
        range = DecodeRangeAlarmSettings(payload.data(), kCommandLine, {});
        limits = AlarmSettingsValues::FromDecoded(*range);
        return true;
    case kObjectSignals:
        signalSettings = DecodeSignalSettings(payload.data(), kCommandLine);
        signalValues = SignalSettingsValues::FromDecoded(*signalSettings);
        return true;
    case kObjectHardware:
        hardware = DecodeHardwareSettings(payload.data(), gates, kCommandLine);
        hardwareOptions = HardwareOptions::FromDecoded(*hardware);
        return true;
    case kObjectIdentity:
        return TakeCustomerId(*this, payload);
    default:
        return false;
    }
}

const std::vector<SettingsKey> &SettingsKeys()
{
    static const std::vector<SettingsKey> keys = [] {
        std::vector<SettingsKey> all;
        AddLimitKeys(all);
        AddSignalKeys(all);
        AddHardwareKeys(all);
        AddCustomerIdKeys(all);
        return all;
    }();
    return keys;
}

const std::vector<SettingsGroupCommand> &SettingsGroups()
{
    static const std::vector<SettingsGroupCommand> groups = BuildGroups();
    return groups;
}

const SettingsKey *FindSettingsKey(const QString &name)
{
    const std::vector<SettingsKey> &keys = SettingsKeys();
    const auto found = std::find_if(keys.begin(), keys.end(), [&](const SettingsKey &k) { return k.name == name; });
    return found == keys.end() ? nullptr : &*found;
}

const SettingsGroupCommand *FindSettingsGroup(SettingsGroup group)
{
    const std::vector<SettingsGroupCommand> &groups = SettingsGroups();
    const auto found =
        std::find_if(groups.begin(), groups.end(), [&](const SettingsGroupCommand &g) { return g.group == group; });
    return found == groups.end() ? nullptr : &*found;
}

QString SettingRefusal(const SettingsKey &key, const QString &why)
{
    return QStringLiteral("%1: %2 (allowed: %3)").arg(key.name, why, key.allowed);
}

std::vector<SettingAssignment> ParseSettingAssignments(const QStringList &words, QString *refusal)
{
    std::vector<SettingAssignment> assignments;
    for (const QString &word : words) {
        const qsizetype equals = word.indexOf(u'=');
        const QString name = equals < 0 ? word : word.left(equals);
        const SettingsKey *key = FindSettingsKey(name);
        if (!key) {
            *refusal = QStringLiteral("unknown setting \"%1\" (see r310ctl set --help for the keys)").arg(name);
            return {};
        }
        if (equals < 0) {
            *refusal = SettingRefusal(*key, QStringLiteral("no value given, write %1=VALUE").arg(name));
            return {};
        }
        const QString value = word.mid(equals + 1);
        if (QString why = key->check(value); !why.isEmpty()) {
            *refusal = why;
            return {};
        }
        assignments.push_back({key, value});
    }
    if (assignments.empty())
        *refusal = QStringLiteral("no setting given, write KEY=VALUE (see r310ctl set --help)");
    return assignments;
}

std::vector<const SettingsGroupCommand *> TouchedGroups(const std::vector<SettingAssignment> &assignments)
{
    std::vector<const SettingsGroupCommand *> touched;
    for (const SettingsGroupCommand &group : SettingsGroups()) {
        const bool used = std::any_of(assignments.begin(), assignments.end(),
                                      [&](const SettingAssignment &a) { return a.key->group == group.group; });
        if (used)
            touched.push_back(&group);
    }
    return touched;
}

QString ApplySettingAssignments(SettingsDraft &draft, const std::vector<SettingAssignment> &assignments)
{
    for (const SettingAssignment &assignment : assignments) {
        if (QString refusal = assignment.key->apply(draft, assignment.value); !refusal.isEmpty())
            return refusal;
    }
    return {};
}

std::vector<SettingDifference> DifferingSettings(SettingsGroup group, const SettingsDraft &written,
                                                 const SettingsDraft &held)
{
    std::vector<SettingDifference> differences;
    for (const SettingsKey &key : SettingsKeys()) {
        if (key.group != group)
            continue;
        const QString wrote = key.text(written);
        const QString holds = key.text(held);
        if (wrote != holds)
            differences.push_back({key.name, wrote, holds});
    }
    return differences;
}

std::vector<std::uint8_t> WrittenObject(const SettingsGroupCommand &group, const std::vector<std::uint8_t> &sent,
                                        const std::vector<std::uint8_t> &readBack)
{
    std::vector<std::uint8_t> object = readBack;
    for (const auto &[offset, length] : group.writtenBytes) {
        for (int i = offset; i < offset + length; ++i) {
            const auto at = static_cast<std::size_t>(i);
            if (at < object.size() && at < sent.size())
                object[at] = sent[at];
        }
    }
    return object;
}

} // namespace r310
