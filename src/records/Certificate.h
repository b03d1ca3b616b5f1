#pragma once
// A calibration certificate as the records prove it: which instrument,
// which test gas from which cylinder, what it read before and after,
// whether it passed, who did it, and when the next calibration and bump
// test fall due. The calibration record holds all of it as it was at the
// calibration (its "certificate" facts, see CertificateFacts), so the same
// record always prints the same certificate; its number, head and
// verification code can be checked against the database.
#include "RecordStore.h"

#include <QJsonObject>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace r310::records {

// The instrument's type as the certificate names it.
inline const QString kInstrumentType = QStringLiteral("Lumo R310 single-gas detector");

struct CertificateData {
    QString number; // unique and stable: serial, place in the chain and the record's hash
    qint64 recordId = 0;
    QString recordHash;
    qint64 chainSeq = 0;      // the calibration's place in the instrument's chain
    QString head;             // ChainHead text of the calibration record, for records verify --head
    QString verificationCode; // "ABCD-EF01-2345", for r310ctl certificate check

    QString serial;
    QString softwareVersion;
    QString customerId;
    QString sensorType;
    QString sensorSerial;

    QString gasUnit;   // "ppm CO"
    QString range;     // "0 to 500 ppm CO"
    std::vector<std::pair<QString, QString>> alarmLimits; // "A1" .. "TWA", with unit

    QString calibratedAt; // "2026-12-09 21:40:00 UTC"
    QString kind;         // "zero", "span"
    QString concentration;
    QString asFound;
    QString asLeft;
    QString outcome;           // "passed", "failed", "not completed"
    QString instrumentOutcome; // the instrument's report: "OK", "Error"; or "no answer", "cancelled"
    QString reason;            // why it failed: "as left 31 ppm outside 45–55 ppm"
    QString criterion;         // the pass criterion; "not recorded" for older records
    bool simulated = false;    // made from the built-in simulated instrument

    bool testGasRecorded = false;
    QString cylinderLot;
    QString certifiedConcentration;
    QString balance;
    QString supplier;
    QString cylinderExpires;

    QString nextCalibration; // YYYY-MM-DD, as the instrument holds it; "not read" when unknown
    QString nextBumpTest;

    QString technician;
    QString workstation;
    QString program; // "r310ctl 1.2.0"
};

// The technician a certificate names: `given` (--technician), else the name
// set in the programs' settings (records/technician, shared by the window
// and r310ctl), else the operating-system user.
QString TechnicianName(const QString &given);
// Keeps the name in the programs' settings; an empty name removes it.
void SetTechnicianName(const QString &name);

// The heading of the paper: "Calibration Certificate" for a passed
// calibration, "Calibration report — FAILED" and "Calibration report — NOT
// COMPLETED" otherwise.
QString CertificateTitle(const CertificateData &data);
// The mark across every page made from the simulated instrument.
inline const QString kSimulatedMark = QStringLiteral("SIMULATED INSTRUMENT — NOT A CERTIFICATE");
// What a certificate prints beyond the calibration's own readings, as the
// calibration record keeps it under "certificate": identity and sensor (of
// the connection body), gas, range and alarm limits in force and due dates
// (of the settings body), and the technician. New facts are new keys; a
// record without a key prints what it did before.
QJsonObject CertificateFacts(const QJsonObject &connection, const QJsonObject &settings, const QString &technician);

// The code a certificate prints for its record, and the start of the
// record hash it names (lower-case hex); empty for a text that is no code.
QString VerificationCode(const QString &recordHash);
QString HashOfCode(const QString &code);

// "passed", "failed" or "not completed" for a recorded outcome.
QString CertificateOutcome(const QString &recordedOutcome);

// The certificate of the instrument's calibration with record id
// `calibrationId`, or of its latest one; `technician` names the technician
// of a calibration kept without its facts. Empty with *error when the
// instrument or the calibration is not on record.
std::optional<CertificateData> CertificateFor(RecordStore &store, const QString &serial,
                                              std::optional<qint64> calibrationId, const QString &technician,
                                              QString *error);

// The certificate as labelled lines in sections, the same for the PDF and
// for tests: {section, {{label, value}...}}.
struct CertificateSection {
    QString title;
    std::vector<std::pair<QString, QString>> rows;
};
std::vector<CertificateSection> CertificateSections(const CertificateData &data);

// The certificate of the calibration record whose hash the code names.
std::optional<CertificateData> CertificateOfCode(RecordStore &store, const QString &code, QString *error);

} // namespace r310::records
