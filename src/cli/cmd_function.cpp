// r310ctl function NAME: one of the instrument's service functions, as
// "Start" on the Special Function tab sends it. Those that change the
// instrument's state are sent only with --yes.
#include "ExitCodes.h"
#include "ServiceFunction.h"
#include "Subcommands.h"

#include <SessionRecorder.h>

#include <array>

namespace r310::cli {

const char *const kFunctionHelp = R"(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] function off|lock|reset|default|update|unlock [--yes]

Connects as "info" does and sends one of the instrument's service
functions, as the configurator's "Start" on the Special Function tab does:

  off       switch the instrument off (code 1)
  lock      lock the instrument (code 2)                      needs --yes
  reset     reset the instrument (code 3)                     needs --yes
  default   restore the instrument's default settings (4)     needs --yes
  update    put the instrument into its update mode (code 5); needs --yes
            it answers nothing more, so the port is closed afterwards
  unlock    unlock the instrument (code 6)

Without --yes the functions that change the instrument's state only say
what they would do and exit with 2; nothing is sent.
)";

namespace {

struct FunctionName {
    const char *name;
    ServiceCode code;
    bool needsConfirmation;
    const char *does;
};

const std::array<FunctionName, 6> kFunctions{{
    {"off", ServiceCode::Off, false, "switches the instrument off"},
    {"lock", ServiceCode::Lock, true, "locks the instrument"},
    {"reset", ServiceCode::Reset, true, "resets the instrument"},
    {"default", ServiceCode::Default, true, "restores the instrument's default settings"},
    {"update", ServiceCode::Update, true,
     "puts the instrument into its update mode, in which it answers no more requests"},
    {"unlock", ServiceCode::Unlock, false, "unlocks the instrument"},
}};

const FunctionName *FindFunction(const QString &name)
{
    for (const FunctionName &function : kFunctions) {
        if (name.compare(QLatin1String(function.name), Qt::CaseInsensitive) == 0)
            return &function;
    }
    return nullptr;
}

QString ItemText(ServiceCode code)
{
    return kServiceFunctionItems.at(static_cast<std::size_t>(code) - 1);
}

} // namespace

int RunFunction(CtlContext &context)
{
    const QStringList &operands = context.options.operands;
    const FunctionName *function = operands.size() == 1 ? FindFunction(operands.first()) : nullptr;
    if (!function)
        return context.Fail(kExitUsage, QStringLiteral("function needs one of off, lock, reset, default, update, "
                                                       "unlock (see r310ctl function --help)"));
    const int code = static_cast<int>(function->code);
    if (function->needsConfirmation && !context.options.yes)
        return context.Fail(kExitUsage, QStringLiteral("function %1 would send service function %2 (\"%3\"), which %4; "
                                                       "add --yes to send it")
                                            .arg(QLatin1String(function->name))
                                            .arg(code)
                                            .arg(ItemText(function->code), QLatin1String(function->does)));

    InstrumentSession session(context.options, context.environment, *context.gasTable);
    if (const int failed = session.OpenAndConnect(InstrumentTab::SpecialFunction))
        return failed;
    auto result = std::make_shared<ServiceFunctionResult>();
    if (const int failed = session.Run(ServiceFunctionJob(function->code, result)))
        return failed;
    session.recorder().RecordServiceFunction(code, *result);
    if (const int failed = session.Verdict(true))
        return failed;
    if (!result->accepted())
        return session.Fail(ExitCodeOf(result->outcome), QStringLiteral("the instrument on %1 did not answer service function %2 (%3)")
                                                   .arg(session.PortLabel())
                                                   .arg(code)
                                                   .arg(OutcomeText(result->outcome)));
    session.out() << "Service function " << code << " (\"" << ItemText(function->code) << "\") accepted";
    if (function->code == ServiceCode::Update) {
        // As "&Close Comport" after "Update" in the window.
        session.connection().closePort();
        session.out() << "; the instrument is in its update mode and the port was closed";
    }
    session.out() << '.' << Qt::endl;
    return kExitOk;
}

} // namespace r310::cli
