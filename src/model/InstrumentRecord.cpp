#include "InstrumentRecord.h"

#include <QStringList>

namespace r310 {

namespace {

const QString kArrow = QString(QChar(0x2192));

template <typename T>
void CompareKnown(QStringList &changes, const QString &name, const std::optional<T> &prepared,
                  const std::optional<T> &found)
{
    if (prepared && found && *prepared != *found)
        changes.append(QStringLiteral("%1 %2 %3 %4").arg(name).arg(int{*prepared}).arg(kArrow).arg(int{*found}));
}

} // namespace

std::optional<InstrumentIdentity> IdentityOf(const InstrumentRecord &record)
{
    if (!record.IdentityRead)
        return std::nullopt;
    InstrumentIdentity identity;
    identity.serialNumber = record.SerialNumber;
    identity.softwareVersion = record.SoftwareVersion;
    if (record.RangeRead) {
        identity.decimalExponent = record.DecimalExponent;
        identity.gasCode = record.GasCode;
        identity.unitCode = record.UnitCode;
    }
    return identity;
}

QString IdentityChange(const InstrumentIdentity &prepared, const InstrumentIdentity &found)
{
    QStringList changes;
    if (prepared.serialNumber != found.serialNumber)
        changes.append(QStringLiteral("serial %1 %2 %3").arg(prepared.serialNumber).arg(kArrow).arg(found.serialNumber));
    if (prepared.softwareVersion != found.softwareVersion)
        changes.append(QStringLiteral("software version %1 %2 %3")
                           .arg(prepared.softwareVersion / 100.0, 0, 'f', 2)
                           .arg(kArrow)
                           .arg(found.softwareVersion / 100.0, 0, 'f', 2));
    CompareKnown(changes, QStringLiteral("decimal exponent"), prepared.decimalExponent, found.decimalExponent);
    CompareKnown(changes, QStringLiteral("gas"), prepared.gasCode, found.gasCode);
    CompareKnown(changes, QStringLiteral("unit"), prepared.unitCode, found.unitCode);
    return changes.join(QStringLiteral(", "));
}

QString InstrumentChangedText(const QString &change)
{
    return QStringLiteral("The instrument changed (%1); nothing was written.").arg(change);
}

} // namespace r310
