#pragma once
// Keeps the service records of one front end's work with instruments,
// without the user doing anything: it watches the instrument connection
// (identity and clock, the settings objects 4, 31 and 33, the live value,
// bump test results) and the front end tells it what it wrote, calibrated,
// checked and downloaded.
//
// The records are written on a thread of their own (RecordsLink.h): a
// database that is slow, locked or gone never holds up the instrument work
// more than 5 s in a session; what it could not write waits in the user's
// spool, and the recorder says so once with notRecorded().
#include "RecordStore.h"
#include "RecordsLocation.h"

#include <Calibration.h>
#include <CustomerId.h>
#include <DecodeAnswer.h>
#include <FactorySetup.h>
#include <HornCheck.h>
#include <InstrumentConnection.h>
#include <LoggerSettings.h>
#include <ServiceFunction.h>
#include <SetClock.h>
#include <SettingsKeys.h>
#include <SettingsProfile.h>
#include <SettingsWrite.h>

#include <QJsonObject>
#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace r310::records {

class RecordsLink;

// What a write did to one key.
struct WriteChange {
    QString key;
    QString before;  // as the instrument held it before
    QString written; // as sent
    QString after;   // as read back; empty without a read-back
};

// Outcome texts of a write, as the records keep them.
inline const QString kReadBackEqual = QStringLiteral("read back equal");
inline const QString kReadBackDifferent = QStringLiteral("read back different");
inline const QString kRefused = QStringLiteral("refused");
inline const QString kNoAnswer = QStringLiteral("no answer");
inline const QString kErrorReport = QStringLiteral("error report");

// The keys of a settings group whose value the write meant to change or did
// change: the draft as read, as written and as read back.
std::vector<WriteChange> SettingsWriteChanges(SettingsGroup group, const SettingsDraft &before,
                                              const SettingsDraft &written, const SettingsDraft *after);

class SessionRecorder : public QObject {
    Q_OBJECT
public:
    // program: "r310ctl" or "R310Conf"; gasTexts names gas and unit codes.
    SessionRecorder(RecordsChoice choice, const QString &program, GasTextLookup gasTexts, QObject *parent = nullptr);
    ~SessionRecorder() override;

    // Watches the connection's answers from now on.
    void Attach(InstrumentConnection &connection);

    bool enabled() const { return choice_.target.enabled(); }
    // The serial number of the instrument now connected; empty before its identity.
    QString serial() const { return identity_ ? identity_->serialNumberText : QString(); }
    // The identity of the instrument now connected.
    const std::optional<IdentityValues> &identity() const { return identity_; }
    // The instrument clock's offset from the PC as last read, in seconds.
    std::optional<std::int64_t> clockOffset() const { return clockOffset_; }
    // The latest live value in the instrument's unit.
    std::optional<double> lastValue() const { return lastValue_; }
    // A wait for the database ends at once when this says so (Ctrl+C, SIGTERM).
    void setInterrupted(std::function<bool()> interrupted) { interrupted_ = std::move(interrupted); }
    // Records are queued, never waited for (for the window; see RecordsLink).
    void setQueued(bool queued) { queued_ = queued; }
    // Records of this session not written yet: queued, or in the spool.
    int waitingCount();
    // The technician a calibration's certificate names (TechnicianName of it).
    void setTechnician(const QString &name) { technician_ = name; }
    // Why the latest record could not be kept; empty while all were kept.
    QString failure() const { return failure_; }

    // A write and what became of it (an outcome text above).
    void RecordWrite(const QString &what, const std::vector<WriteChange> &changes, const QString &outcome,
                     const QString &detail = {});
    void RecordHornCheck(const QString &outcome);
    // An operation's record (a calibration, a bump test) as its report says.
    // A bump test's values are not kept again when the poll reads them.
    void RecordReport(const QString &recordKind, const QJsonObject &body);
    // Waits (bounded, as a look-up does) until the records queued before
    // are written, so that a certificate made now finds them.
    void Settle();
    // The unit of the instrument's gas values ("ppm"), once its alarm settings were read.
    QString unitText() const;
    // The instrument is the built-in simulated one: every calibration and
    // bump test record says so.
    void setSimulated(bool simulated) { simulated_ = simulated; }
    bool simulated() const { return simulated_; }
    // While an operation follows a bump test, results the poll decodes are
    // the operation's to record.
    void setBumpTestFollowed(bool followed) { bumpFollowed_ = followed; }

    // What each instrument command did, kept the same way whichever front
    // end ran it: each key's value before, as written and as read back, and
    // the outcome text.

    // The settings as the instrument last reported them (objects 4, 31, 33
    // and the customer ID of the identity): the "before" of a write.
    SettingsDraft HeldSettings() const;
    // A settings group's write of `written` over `before`.
    void RecordSettingsWrite(const SettingsGroupCommand &group, const SettingsDraft &before,
                             const SettingsDraft &written, const SettingsWriteResult &result);
    // The same, for a write whose draft is the sent payload laid over `before`.
    void RecordSettingsWrite(const SettingsGroupCommand &group, const SettingsDraft &before,
                             const SettingsWriteResult &result);
    // "Set Time": the clock's offset before; after it, the offset the check read.
    void RecordClockWrite(std::optional<std::int64_t> offsetBefore, const SetClockResult &result, bool clockNotTaken);
    void RecordLoggerInterval(std::optional<int> before, std::uint16_t seconds, const logs::LoggerCommandResult &result);
    void RecordFactorySetup(const std::optional<IdentityValues> &before, const FactorySetupEntries &entries,
                            const FactorySetupResult &result);
    void RecordServiceFunction(int code, const ServiceFunctionResult &result);
    void RecordHornCheck(const HornCheckResult &result);
    // A profile's apply: each key the plan changes, with the instrument's
    // value, the profile's, and what the read-back showed.
    void RecordProfileApply(const QString &profile, const ProfilePlan &plan, const ProfileApplyResult &result);

    // An accepted calibration start: `unfinished` is its record should the
    // instrument go away before the front end records its report.
    void CalibrationStarted(const QJsonObject &unfinished);
    // A download: complete, or stopped (unfinished: what was read before the
    // stop, kept so the next download goes on from there).
    void RecordEvents(const logs::EventTable &table, bool unfinished = false);
    void RecordDatalog(const std::vector<logs::LoggerBlock> &blocks, bool unfinished = false);
    // What the records hold of the connected instrument's logger and event
    // log, for a download to read only what is new; null without records or
    // with nothing on record.
    std::shared_ptr<const std::vector<logs::LoggerBlock>> LoggerOnRecord();
    std::shared_ptr<const logs::EventTable> EventsOnRecord();

    // Keeps what the connection showed that is not on record yet (identity,
    // settings); the instrument's session ends.
    void Finish();
    // Keeps what is not on record yet; the session goes on. Queued records
    // are waited for at most kQueuedDrainMs (RecordsLink.h).
    void Flush();

signals:
    // Once for each instrument whose work could not be recorded.
    void notRecorded(const QString &reason);
    // A record was kept.
    void recorded();
    // Records of earlier sessions were delivered from the spool.
    void delivered(int count);

private:
    void TakeAnswer(const DecodedAnswer &answer, const AnswerFrame &frame);
    RecordsLink *Store();
    bool Keep(const AppendResult &result);
    void FlushConnection();
    void FlushSettings();
    void FlushPending();
    QJsonObject SettingsBody() const;
    QJsonObject ConnectionBody() const;
    void Fail(const QString &reason);
    void TakeBumpResult(const BumpTestResult &result);
    void Append(const QString &recordKind, QJsonObject body);

    RecordsChoice choice_;
    QString program_;
    GasTextLookup gasTexts_;
    std::unique_ptr<RecordsLink> store_;
    std::function<bool()> interrupted_;
    bool announcedDelivery_ = false;
    bool announcedWaiting_ = false;
    bool queued_ = false;
    bool openFailed_ = false;
    QString failure_;
    bool failed_ = false;

    std::optional<IdentityValues> identity_;
    std::optional<std::int64_t> clockOffset_;
    std::optional<double> lastValue_;
    std::optional<RangeAlarmSettings> range_;
    bool connectionPending_ = false;
    // Settings objects read since the last settings record, by object.
    std::map<std::uint8_t, std::vector<std::uint8_t>> settingsRead_;
    std::optional<QJsonObject> lastSettings_; // the instrument's latest settings on record
    std::optional<QJsonObject> lastBump_;
    // The settings objects and identity as last reported, for a write's "before".
    std::map<std::uint8_t, std::vector<std::uint8_t>> held_;
    std::optional<QJsonObject> calibration_; // an accepted start's record until its report
    bool simulated_ = false;
    bool bumpFollowed_ = false;
    QString technician_;
};

} // namespace r310::records
