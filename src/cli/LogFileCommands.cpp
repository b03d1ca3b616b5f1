#include "LogFileCommands.h"

#include "ExitCodes.h"

namespace r310::cli {

int LoadLoggerFile(CtlContext &context, LoadedLog &loaded)
{
    const QStringList &operands = context.options.operands;
    if (operands.size() != 1)
        return context.Fail(kExitUsage, QStringLiteral("\"%1\" needs one FILE (see r310ctl %1 --help)")
                                            .arg(context.options.command));
    const std::optional<logs::AlarmLevels> levels = logs::ParseAlarmLevels(context.options.levels);
    if (!levels)
        return context.Fail(kExitUsage, QStringLiteral("--levels needs up to five numbers A1,A2,A3,STEL,TWA "
                                                       "(\".\" as decimal point, empty ones unknown, a \"v\" after A1 to A3 "
                                                       "for one that falls below): 30,60,100,50,20 or 19.5v,18v,23.5"));
    loaded.levels = *levels;
    auto file = std::make_shared<logs::LogFile>(logs::ReadLogFile(operands.first()));
    if (file->unreadable() || file->firstBadLine != 0)
        return context.Fail(kExitUsage, file->problem);
    if (file->kind != logs::LogFileKind::DataLogger)
        return context.Fail(kExitUsage, QStringLiteral("%1 is an event log file, not a data logger file")
                                            .arg(operands.first()));
    if (file->series.empty())
        return context.Fail(kExitUsage, QStringLiteral("%1 holds no samples").arg(operands.first()));
    loaded.shownLocale = QLocale::system();
    loaded.file = std::move(file);
    return kExitOk;
}

} // namespace r310::cli
