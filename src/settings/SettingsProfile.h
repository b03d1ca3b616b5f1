#pragma once
// Settings profiles: the writable settings of one instrument in a JSON file,
// compared with another instrument and written to it. A service company sets
// up a shelf of detectors alike for one customer with them.
//
// The keys and values are those of `r310ctl set`: numbers as JSON numbers
// (alarm thresholds and the calibration gas in the instrument's unit),
// switches as true/false, choices as the words `set` takes, the customer ID
// as text, and the data logger's interval in seconds. The profile reaches the
// data logger's command, which is why it lives in this layer.
//
// Nothing that belongs to one instrument is ever in a profile: no serial
// number, clock, next-due dates, zero point, gain or reference voltage. The
// instrument it was saved from is kept as information, and its gas and unit
// must be those of any instrument the profile is applied to.
//
// A profile is applied in three steps, the window and r310ctl alike: read
// every group (ReadInstrumentSettingsJob), plan (PlanProfile: every refusal
// before anything is written, and the differences), then write only the
// groups that differ with the commands the set buttons use
// (ApplyProfileJob), each read back and compared with the profile.
#include "LoggerSettings.h"

#include <InstrumentConnection.h>
#include <SettingsKeys.h>
#include <SettingsWrite.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace r310 {

class GasTable;

inline const QString kProfileFormat = QStringLiteral("r310conf-settings-profile");
constexpr int kProfileVersion = 1;
// A profile is a few kilobytes; a larger file is refused without reading it.
constexpr qint64 kMaxProfileBytes = 1024 * 1024;
// The data logger's interval, the one key `set` hands to the logger's command.
inline const QString kLoggerIntervalKey = QStringLiteral("logger-interval");

// The instrument a profile was saved from.
struct ProfileSource {
    QString serialNumber;
    QString gas;  // gas name, from the gas table
    QString unit; // unit text, from the gas table
    int gasCode = -1; // -1: not given
    int unitCode = -1;
    QString range; // end of the measuring range, as the window shows it
    QString softwareVersion;
    QString saved; // local date and time of the save, ISO 8601

    bool operator==(const ProfileSource &other) const;
};

// One key with its value as `r310ctl set` takes it ("on", "25.5", "louder").
struct ProfileSetting {
    QString key;
    QString value;

    bool operator==(const ProfileSetting &other) const { return key == other.key && value == other.value; }
};

struct SettingsProfile {
    ProfileSource source;
    std::vector<ProfileSetting> settings; // in the order of the key table

    const ProfileSetting *find(const QString &key) const;
    bool operator==(const SettingsProfile &other) const
    {
        return source == other.source && settings == other.settings;
    }
};

// A profile read from bytes, or every reason it is not a valid one (one
// line each; nothing of an invalid profile is ever written).
struct SettingsProfileParse {
    std::optional<SettingsProfile> profile;
    QString error;
};

SettingsProfileParse ParseSettingsProfile(const QByteArray &bytes);
QByteArray SettingsProfileJson(const SettingsProfile &profile);
// The file, refused when missing, unreadable, a folder or too large.
SettingsProfileParse ReadSettingsProfile(const QString &path);
// Writes the file whole or leaves an older one as it was; empty, or why not.
QString WriteSettingsProfile(const QString &path, const SettingsProfile &profile);

// Every writable setting of the instrument on the port, as read.
struct InstrumentSettings {
    SettingsDraft draft; // every settings group, the customer ID included
    IdentityValues identity;
    std::optional<std::uint16_t> loggerInterval; // instruments with a data logger
};

struct InstrumentSettingsRead {
    InstrumentSettings settings;
    // Why the read stopped: empty when every group came.
    QString failure;
    // The port was closed or the read cancelled (the front end shows that itself).
    bool interrupted = false;
    bool ok() const { return failure.isEmpty(); }
};

// Reads the identity, the alarm limits, the signals, the hardware options
// and, when the software version has one, the data logger's information.
ConnectionJob ReadInstrumentSettingsJob(std::shared_ptr<InstrumentSettingsRead> result);

// The profile of the instrument: every key it reported. The customer ID only
// when asked for, and only when a profile can write it back (an ID of ten
// characters cannot be typed or applied: *leftOut then says so).
SettingsProfile ProfileOf(const InstrumentSettings &instrument, const GasTable *gasTable, bool withCustomerId,
                          QStringList *leftOut = nullptr);

// A key whose value differs: the instrument's, then the profile's.
struct ProfileDifference {
    QString key;
    QString instrument;
    QString profile;
};

struct ProfilePlan {
    // Why the profile does not fit this instrument: nothing is written.
    QStringList refusals;
    std::vector<ProfileDifference> differences;
    // The instrument's settings with the profile applied.
    SettingsDraft target;
    // The groups to write, in the order of the group table.
    std::vector<const SettingsGroupCommand *> groups;
    std::optional<std::uint16_t> loggerInterval; // to write
    // The instrument the plan was made for: its writes go to no other.
    InstrumentIdentity instrument;

    bool ok() const { return refusals.isEmpty(); }
    bool writesNothing() const { return groups.empty() && !loggerInterval; }
};

// Checks the profile against the instrument (its gas and unit, its scale,
// its 16-bit fields, the options of its software version) and finds the
// differences. gasTable names gas and unit when the profile gives no codes.
// unusualOrderAllowed: alarm limits in an unusual order are written too (--force).
ProfilePlan PlanProfile(const SettingsProfile &profile, const InstrumentSettings &instrument,
                        const GasTable *gasTable, bool unusualOrderAllowed = false);

// One group's write.
struct ProfileGroupWrite {
    QString title;
    Outcome outcome = Outcome::NotRun;
    std::vector<std::uint8_t> sent;
};

struct ProfileApplyResult {
    std::vector<ProfileGroupWrite> writes; // in order; only the last may have failed
    // Why the writes stopped: empty when every group was written and read back.
    QString failure;
    // The port was closed or the writes cancelled (the front end shows that itself).
    bool interrupted = false;
    // Keys the instrument does not hold as the profile says after the read-back:
    // its value, then the profile's.
    std::vector<ProfileDifference> mismatches;

    bool written() const { return failure.isEmpty(); }
    bool matches() const { return written() && mismatches.empty(); }
    QStringList writtenTitles() const;
};

// Writes the plan's groups, each with its own command (read back there), the
// data logger's interval last, and compares the read-backs with the profile.
// Only to the instrument the plan was made for: another one on the port gets
// nothing written (the job ends as InstrumentChanged).
ConnectionJob ApplyProfileJob(ProfilePlan plan, std::shared_ptr<ProfileApplyResult> result);

} // namespace r310
