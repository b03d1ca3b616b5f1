#include "TestGas.h"

namespace r310::operations {

std::variant<TestGas, Refusal> TakeTestGas(records::RecordStore &store, const QString &lot,
                                           const std::optional<GasUnit> &instrument, const QDate &today)
{
    QString error;
    const std::optional<records::Cylinder> found = records::CylinderRegister(store).Find(lot, &error);
    if (!error.isEmpty())
        return Refusal{error};
    const QString refusal = instrument
                                ? records::CylinderRefusal(found, lot, instrument->first, instrument->second, today)
                                : records::CylinderDateRefusal(found, lot, today);
    if (!refusal.isEmpty())
        return Refusal{refusal + QStringLiteral("; nothing was sent")};
    return TestGas{*found, records::CylinderJson(*found), records::CylinderText(*found)};
}

} // namespace r310::operations
