#pragma once
// The test gas of a calibration or bump test: a cylinder of the register,
// taken for today and, once they are known, the instrument's gas and unit.
#include "Operation.h"

#include <Cylinders.h>

#include <QDate>
#include <QJsonObject>

#include <cstdint>
#include <optional>
#include <utility>
#include <variant>

namespace r310::operations {

struct TestGas {
    records::Cylinder cylinder;
    QJsonObject json; // as the record keeps it
    QString text;     // "CO 50 ppm, lot L1, expires 2027-06-30"
};

// The gas and unit codes of the instrument, when its alarm settings were read.
using GasUnit = std::pair<std::uint8_t, std::uint8_t>;

// Cylinder `lot` of the register: refused when it is unknown, retired,
// expired before `today`, or of another gas or unit than `instrument`.
std::variant<TestGas, Refusal> TakeTestGas(records::RecordStore &store, const QString &lot,
                                           const std::optional<GasUnit> &instrument, const QDate &today);

} // namespace r310::operations
