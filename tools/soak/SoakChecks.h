#pragma once
// The soak's judgements, apart from the processes that produce what they
// judge: sanitizer reports in a program's error output, the writes the
// simulated instrument heard, the export files and folders after a download,
// and r310ctl's output compared with a run on a faultless instrument. Each
// returns the problems it found, in words; none means the check passed.
#include <QByteArray>
#include <QDir>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace soak {

// The first line of each sanitizer report (AddressSanitizer, LeakSanitizer,
// UndefinedBehaviorSanitizer) in a program's error output.
QStringList SanitizerReports(const QByteArray &errorOutput);

// A write request as the instrument heard it.
struct HeardWrite {
    std::uint8_t object = 0;
    QByteArray payload;
};

// The write requests in r310sim's --log output ("<ms> -> 56 59 4B 34 ..."),
// in order. The connect request (object 1, write flags, no payload) is left out.
std::vector<HeardWrite> WritesHeard(const QByteArray &simulatorLog);

// Every write heard must be the intended one (sent again is fine); when the
// command reported success, it must have been heard at least once.
QStringList CheckWrites(const std::vector<HeardWrite> &heard, std::uint8_t object, const QByteArray &payload,
                        bool reportedWritten);

// The value where the plan says it sits in the payload.
QStringList CheckPayloadValue(const QByteArray &payload, int offset, int size, int value);

// "56 59 4b" to bytes; nothing for text that is not pairs of hex digits.
std::optional<QByteArray> BytesFromHex(const QString &text);

// Files in a folder other than the expected ones (temporary or partial
// files), hidden ones included.
QStringList UnexpectedFiles(const QDir &folder, const QStringList &expected);

enum class ExportKind { Events, Datalog };

// What lay at the export path before the download: nothing, or these bytes.
using FileBefore = std::optional<QByteArray>;

// The export file after a download that ended with exitCode, against the
// file the same download wrote from a faultless instrument (reference).
// Success: the file is the reference's, line by line, dates and times aside
// (they follow the moment each instrument started). Failure: the file is
// untouched, or absent when there was none. The one exception: an event
// download that lost some events writes the others and names the lost ones
// on standard error (errorOutput), with exit code 3 or 5.
QStringList CheckExportFile(ExportKind kind, int exitCode, const FileBefore &before, const FileBefore &after,
                            const QByteArray &reference, const QString &errorOutput);

// r310ctl get --json against the same on a faultless instrument: everything
// but the port and the live value must agree.
QStringList CompareGetJson(const QByteArray &output, const QByteArray &reference);

// The payload of the one write in r310ctl set --json (--dry-run too).
std::optional<QByteArray> PayloadOfSetJson(const QByteArray &output);
// r310ctl set --json after a write reported done: the intended object and
// payload (where it names one) were written and the instrument holds them.
QStringList CheckSetJson(const QByteArray &output, std::uint8_t object, const QByteArray &payload);

} // namespace soak
