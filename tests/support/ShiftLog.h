#pragma once
// A made-up but plausible work shift of a detector's logs, for the viewer's
// tests, its benchmark and its pictures: a data logger with 1 to 4 gases
// logged once a minute, CO rising through its alarm levels twice, a pause
// that opens a second section, and the event log of the same shift.
#include <DataLoggerExport.h>

#include <QLocale>
#include <QStringList>

#include <cstdint>

namespace r310test {

// The CO alarm levels the shift's instrument holds (ppm).
constexpr double kShiftA1 = 30, kShiftA2 = 60, kShiftA3 = 100, kShiftStel = 50, kShiftTwa = 20;

// blocks of 15 samples, `sets` gases (1 to 4: CO, H2S, EX, O2), starting on
// 2026-03-02 at 06:00:00; the block after blocks / 2 starts 45 minutes late.
r310::logs::LoggerExportData ShiftLogger(int blocks, int sets, const QLocale &locale, std::uint32_t seed = 1);

// The event log of ShiftLogger(blocks, ...): switched on, A1/A2 on and off
// where CO crosses its levels, switched off, as the export file's lines.
QStringList ShiftEventLines(int blocks, const QLocale &locale);

} // namespace r310test
