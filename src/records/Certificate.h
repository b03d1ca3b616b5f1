#pragma once
// A calibration certificate as the records prove it: which instrument,
// which test gas from which cylinder, what it read before and after,
// whether it passed, who did it, and when the next calibration and bump
// test fall due. Everything comes from the instrument's record chain, so
// the same calibration record always gives the same certificate, and its
// number and hash can be checked against the database.
#include "RecordStore.h"

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

// "passed", "failed" or "not completed" for a recorded outcome.
QString CertificateOutcome(const QString &recordedOutcome);

// The certificate of the instrument's calibration with record id
// `calibrationId`, or of its latest one, naming `technician`. Empty with *error
// when the instrument or the calibration is not on record.
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

} // namespace r310::records
