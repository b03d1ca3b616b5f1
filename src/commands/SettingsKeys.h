#pragma once
// The instrument's settings by name, as `r310ctl set KEY=VALUE`, the
// `settings` object of `r310ctl get --json` and the settings profiles name
// them: "a1", "a1-latching", "bleep", "bump-interval", "data-safety" ...
// Numbers always take "." as decimal point.
//
// Two tables: the keys, each belonging to one settings group, and the
// groups, each with the object it is read from and the command that writes
// it. A front end reads every group a key touches, applies the keys to a
// draft of what was read, and writes each group once with its command.
//
// Adding a group (the customer ID): give it rows in both tables. Write a
// function that returns its keys and one that returns its group, each in
// the group's own files, and append them in SettingsKeys() and
// SettingsGroups() in SettingsKeys.cpp (one line each). Keep what the group
// needs in SettingsDraft::more under the key's name, or add a member there.
#include "AlarmSettings.h"
#include "HardwareSettings.h"
#include "SignalSettings.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace r310 {

// The settings as read from the instrument, then changed key by key.
struct SettingsDraft {
    std::int32_t softwareVersion = 0;
    FeatureGates gates;

    std::optional<RangeAlarmSettings> range; // as read: exponent and the values not written
    AlarmSettingsValues limits;
    std::optional<SignalSettings> signalSettings;
    SignalSettingsValues signalValues;
    std::optional<HardwareSettings> hardware;
    HardwareOptions hardwareOptions;

    // Further groups keep their values here, by key.
    std::map<QString, QString> more;
    // The alarm limits may stand in an unusual order (r310ctl --force, or
    // the user confirmed it); else such limits are refused.
    bool unusualOrderAllowed = false;

    // The draft of what an instrument of this software version reported.
    static SettingsDraft FromDecoded(std::int32_t softwareVersion, const RangeAlarmSettings *range,
                                     const SignalSettings *signalSettings, const HardwareSettings *hardware);
    // Takes a group's object from its payload as received; false when the
    // payload is too short for the object.
    bool Take(std::uint8_t object, const std::vector<std::uint8_t> &payload);
};

// How a key's value is written in a settings profile: a JSON number, true
// or false, one of the words `set` takes, or free text.
enum class SettingsValueKind { Number, Switch, Word, Text };

struct SettingsKey {
    QString name;
    SettingsGroup group;
    // The allowed values, for the refusal line: "on|off", "2 to 365 (days)".
    QString allowed;
    // Checks the value's form before anything is read from the instrument:
    // empty when it may be applied, else why not.
    std::function<QString(const QString &value)> check;
    // Applies the value to a draft that holds the group as read: empty, or
    // why the instrument cannot take it (a value that does not fit its
    // scale, an option its software version does not offer).
    std::function<QString(SettingsDraft &draft, const QString &value)> apply;
    // The value the draft holds, as `apply` takes it; empty when the draft
    // does not hold the group or the software version lacks the option.
    std::function<QString(const SettingsDraft &draft)> text;
    SettingsValueKind kind = SettingsValueKind::Word;
};

struct SettingsGroupCommand {
    SettingsGroup group;
    QString title;       // "alarm limits"
    std::uint8_t object; // read with ReadObject, written by `write`
    // The payload bytes the write sets (offset, length): a read-back that
    // differs in one of them does not hold what was written.
    std::vector<std::pair<int, int>> writtenBytes;
    // The payload the write would send for the draft, or its refusal.
    std::function<SettingsPayload(const SettingsDraft &draft)> payload;
    // The command that writes the draft and reads the group back.
    std::function<ConnectionJob(const SettingsDraft &draft, std::shared_ptr<SettingsWriteResult> result)> write;
};

const std::vector<SettingsKey> &SettingsKeys();
const std::vector<SettingsGroupCommand> &SettingsGroups();
const SettingsKey *FindSettingsKey(const QString &name);
const SettingsGroupCommand *FindSettingsGroup(SettingsGroup group);

// One KEY=VALUE of the command line.
struct SettingAssignment {
    const SettingsKey *key = nullptr;
    QString value;
};

// Parses KEY=VALUE words; checks each key and the form of its value. On a
// refusal *refusal holds one line naming the key and its allowed values.
std::vector<SettingAssignment> ParseSettingAssignments(const QStringList &words, QString *refusal);

// The groups the assignments touch, in the order of SettingsGroups().
std::vector<const SettingsGroupCommand *> TouchedGroups(const std::vector<SettingAssignment> &assignments);

// Applies the assignments in order; empty, or the first refusal as one line.
QString ApplySettingAssignments(SettingsDraft &draft, const std::vector<SettingAssignment> &assignments);

// The key's refusal line: "KEY: why (allowed: ...)".
QString SettingRefusal(const SettingsKey &key, const QString &why);

// A group's keys whose values differ between two drafts: key, then the
// values of `written` and `held`.
struct SettingDifference {
    QString key;
    QString written;
    QString held;
};
std::vector<SettingDifference> DifferingSettings(SettingsGroup group, const SettingsDraft &written,
                                                 const SettingsDraft &held);

// The sent payload laid over the read-back's, in the bytes the write sets:
// the object as the instrument would hold it if it took every written byte.
std::vector<std::uint8_t> WrittenObject(const SettingsGroupCommand &group, const std::vector<std::uint8_t> &sent,
                                        const std::vector<std::uint8_t> &readBack);

} // namespace r310
