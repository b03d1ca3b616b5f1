#pragma once
// The instrument's service functions (object 127): "Start" on the Special
// Function tab, r310ctl function, and the data logger's "Clear".
#include "CommandRequest.h"
#include "InstrumentConnection.h"

#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace r310 {

// Service function codes of object 127.
enum class ServiceCode : std::uint8_t {
    Off = 1,
    Lock = 2,
    Reset = 3,
    Default = 4,
    Update = 5, // the instrument goes to its update mode; the configurator disconnects
    Unlock = 6,
    ClearLogger = 7, // the data logger's "Clear"; no item of "Function"
};

// Items of the radio group "Function", in order: item i sends code i + 1.
inline const std::array<QString, 6> kServiceFunctionItems{
    QStringLiteral("OFF"),     QStringLiteral("Lock"),   QStringLiteral("Reset"),
    QStringLiteral("Default"), QStringLiteral("Update"), QStringLiteral("UnLock"),
};

// The code of item `index` of "Function"; empty for no selection (-1) or
// an index outside the items.
std::optional<ServiceCode> ServiceCodeForItem(int index);

// The question a front end asks before sending a function that cannot be
// undone ("Reset", "Default": what it resets), answered Yes or No; empty for
// the others.
QString ServiceFunctionQuestion(ServiceCode code);

// The one-byte payload of object 127.
std::vector<std::uint8_t> ServiceFunctionPayload(ServiceCode code);

struct ServiceFunctionResult {
    ServiceCode code = ServiceCode::Off;
    Outcome outcome = Outcome::NotRun;
    bool accepted() const { return outcome == Outcome::Done; }
};

// Sends the service function in the running job (5 ticks armed, each
// attempt waiting them) and decodes the answer that arrived.
Outcome RunServiceFunction(JobContext &job, ServiceCode code);

// The same as a job for InstrumentConnection::submit; the outcome lands in
// *result (read it when the job has ended). "Update" is followed by closing the
// port, which the caller does as "&Close Comport" does, once the instrument
// accepted it.
ConnectionJob ServiceFunctionJob(ServiceCode code, std::shared_ptr<ServiceFunctionResult> result = {});

} // namespace r310
