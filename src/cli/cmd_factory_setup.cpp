// r310ctl factory-setup: the factory "Setup" of the configurator (started
// with "/pr"): serial number, customer ID, the PC's time and, on request, the
// limit-list update, then the connect sequence shows the new identity.
#include "ExitCodes.h"
#include "FactorySetup.h"
#include "Formats.h"
#include "Report.h"
#include "Subcommands.h"

#include <SessionRecorder.h>

namespace r310::cli {

const char *const kFactorySetupHelp = R"(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] factory-setup --serial N [--customer-id TEXT] [--update-limit-list] --yes

Connects as "info" does and writes the factory setup, as the configurator's
"Setup" dialog does: serial number N (1 to 99999999), the customer ID TEXT
(at most 9 of A to Z, 0 to 9, blank, comma, hyphen and full stop; a to z
are taken as upper case; without --customer-id the customer ID is
cleared), the PC's local time and, with --update-limit-list, the order to
update the instrument's list of limit values (the instrument is given
15 s to answer that). Then connects again and shows the identity the
instrument now reports.

Without --yes it only says what it would write and exits with 2; nothing
is sent.
)";

int RunFactorySetup(CtlContext &context)
{
    const CtlOptions &options = context.options;
    if (options.serial.isEmpty())
        return context.Fail(kExitUsage, QStringLiteral("factory-setup needs --serial N (see r310ctl factory-setup --help)"));
    QString refusal;
    const std::optional<std::int32_t> serial = ParseFactorySerialNumber(options.serial, &refusal);
    if (!serial)
        return context.Fail(kExitUsage, refusal);
    const std::optional<QString> customerId = FactoryCustomerIdFromText(options.customerId, &refusal);
    if (!customerId)
        return context.Fail(kExitUsage, refusal);
    FactorySetupEntries entries;
    entries.serialNumber = *serial;
    entries.customerId = *customerId;
    entries.updateLimitList = options.updateLimitList;
    if (!options.yes)
        return context.Fail(kExitUsage,
                            QStringLiteral("factory-setup would write serial number %1, customer ID \"%2\"%3 and the "
                                           "PC's time into the instrument; add --yes to write it")
                                .arg(FormatSerialNumber(entries.serialNumber), entries.customerId,
                                     entries.updateLimitList ? QStringLiteral(", the limit-list update") : QString()));

    InstrumentSession session(context.options, context.environment, *context.gasTable);
    if (const int code = session.OpenAndConnect(InstrumentTab::General))
        return code;
    auto result = std::make_shared<FactorySetupResult>();
    const std::optional<IdentityValues> before = session.view().identity;
    if (const int code = session.Run(FactorySetupJob(entries, result)))
        return code;
    session.recorder().RecordFactorySetup(before, entries, *result);
    if (const int code = session.Verdict(true))
        return code;
    if (!result->accepted())
        return session.Fail(ExitCodeOf(result->write), QStringLiteral("the instrument on %1 did not answer the factory setup (%2)")
                                                   .arg(session.PortLabel(), OutcomeText(result->write)));
    const TerminalView &view = session.view();
    if (!result->reconnected || !view.identity)
        return session.Fail(kExitNoInstrument, QStringLiteral("the factory setup was written, but the instrument on %1 "
                                                              "did not answer the connect sequence after it")
                                                   .arg(session.PortLabel()));
    session.out() << "Factory setup written on " << session.PortLabel() << '\n';
    PrintFields(session.out(), IdentityFields(*view.identity), 2);
    return kExitOk;
}

} // namespace r310::cli
