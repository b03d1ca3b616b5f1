#pragma once
// What "plot" and "exposure" share: the data logger export file named on the
// command line, read back with the core's reader.
#include "Subcommands.h"

#include <Exposure.h>
#include <LogFileReader.h>

#include <QLocale>

#include <memory>

namespace r310::cli {

struct LoadedLog {
    std::shared_ptr<const logs::LogFile> file;
    // Dates and numbers are shown in the user's regional settings.
    QLocale shownLocale;
    // --levels: the instrument's alarm levels, as far as given.
    logs::AlarmLevels levels;
};

// Reads the one FILE operand and --levels. Exit code 2 with one line naming
// the first line that cannot be read, for a file that cannot be opened, is no
// data logger file, has no samples or has damaged lines, and for levels that
// are not numbers; kExitOk otherwise.
int LoadLoggerFile(CtlContext &context, LoadedLog &loaded);

} // namespace r310::cli
