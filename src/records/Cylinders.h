#pragma once
// The register of test-gas cylinders in the records database: each lot's
// gas and unit (the gas table's codes and texts), certified concentration,
// expiry date, balance gas and supplier, and whether it was retired. A span
// calibration names the cylinder it used; one that is unknown, retired,
// expired or of another gas or unit than the instrument's is refused before
// anything is sent. Each row is signed over its content by whoever added
// or retired it, so a change made around the programs fails records verify.
#include "RecordStore.h"

#include <QDate>
#include <QJsonObject>
#include <QString>
#include <QVariantList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace r310::records {

struct Cylinder {
    QString lot;
    std::uint8_t gasCode = 0;
    std::uint8_t unitCode = 0;
    QString gas;  // the gas table's name of gasCode ("CO")
    QString unit; // the gas table's name of unitCode ("ppm")
    double concentration = 0; // certified, in unit
    QDate expires;
    QString balance;  // balance gas; may be empty
    QString supplier; // may be empty
    bool retired = false;
};

// The cylinder as the register's --json and the calibration record keep it.
QJsonObject CylinderJson(const Cylinder &cylinder);
// "CO 50 ppm, lot L1, expires 2027-06-30"
QString CylinderText(const Cylinder &cylinder);

// A gas or unit as the user names it: the gas table's text (any case) or its
// code as a number. Empty when no code of the table has that text.
std::optional<std::uint8_t> CodeNamed(const QString &word, const std::function<QString(std::uint8_t)> &textOf);

// A cylinder as the user enters it, every field as typed: the gas and unit
// as the gas table's texts or codes, the concentration with "." as decimal
// point, the expiry date as YYYY-MM-DD.
struct CylinderEntry {
    QString lot;
    QString gas;
    QString unit;
    QString concentration;
    QString expires;
    QString balance;
    QString supplier;
};

// The entry checked: every field but balance and supplier given, gas and
// unit known to the gas table (named by gasText and unitText, as they name
// a code), a concentration above 0, a valid date. On a fault, the cylinder
// is empty and `field` names the entry's field ("lot", "gas", "unit",
// "concentration", "expires") and `problem` says what is wrong with its
// value; when a field is missing, `field` is empty and `problem` says what a
// cylinder needs.
struct CylinderCheck {
    std::optional<Cylinder> cylinder;
    QString field;
    QString problem;
};
CylinderCheck CheckCylinderEntry(const CylinderEntry &entry, const std::function<QString(std::uint8_t)> &gasText,
                                 const std::function<QString(std::uint8_t)> &unitText);

// Why the cylinder cannot be used today on an instrument of gasCode and
// unitCode; empty when it can. `lot` names a cylinder that was not found.
QString CylinderRefusal(const std::optional<Cylinder> &cylinder, const QString &lot, std::uint8_t gasCode,
                        std::uint8_t unitCode, const QDate &today);
// Why the cylinder cannot be used today whatever the instrument; empty when it can.
QString CylinderDateRefusal(const std::optional<Cylinder> &cylinder, const QString &lot, const QDate &today);

// A warning for a cylinder that no instrument on record can use: none of
// its gas and unit, or none whose measuring range reaches its concentration
// (the ranges of the latest settings on record are named). Empty when one
// can, or when the records cannot be read (*error says why).
QString CylinderRangeWarning(RecordStore &store, const Cylinder &cylinder, QString *error = nullptr);

class CylinderRegister {
public:
    explicit CylinderRegister(RecordStore &store) : store_(store) {}
    RecordStore &store() const { return store_; }

    // Adds a cylinder; false with *error for a lot already registered or a
    // database failure.
    bool Add(const Cylinder &cylinder, QString *error);
    // Every cylinder by lot; retired ones too.
    std::vector<Cylinder> List(QString *error = nullptr) const;
    std::optional<Cylinder> Find(const QString &lot, QString *error = nullptr) const;
    // Marks the cylinder retired; false with *error when the lot is unknown.
    bool Retire(const QString &lot, QString *error);
    // The cylinders usable today on an instrument of gasCode and unitCode.
    std::vector<Cylinder> Usable(std::uint8_t gasCode, std::uint8_t unitCode, const QDate &today) const;

private:
    // Adds the row's hash, signature and key id to its values.
    bool AppendSignature(QVariantList &values, QString *error) const;

    RecordStore &store_;
};

} // namespace r310::records
