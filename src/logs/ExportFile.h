#pragma once
// The log export files (event log, data logger): 8-bit text lines, each line
// the last one included ended by CR LF, no byte-order mark.
//
// The 8-bit character set is the system's ANSI code page on Windows (Latin-1
// when that code page needs more than one byte per character) and Latin-1
// elsewhere. Every character that the set cannot hold becomes one "?", so a
// field never shrinks or loses its separators; a CR or LF inside a line is
// replaced the same way, so one line stays one line. A blank the set lacks
// (a narrow or wide blank) becomes the plain blank.
//
// The file is written atomically: it appears, or replaces an existing file,
// only when every byte has been written. A failure or a cancel leaves an
// existing file as it was and no partial or temporary file behind.
//
// Two ways to write:
//   const ExportResult result = WriteExportFile(path, lines);
// or, when the lines come one by one:
//   ExportFile file(path);
//   file.begin(); file.append(line); ... file.commit();   // or file.cancel()
// Both give "Cannot create file %s" (the path in native form) when the file
// cannot be created or written.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QSaveFile;

namespace r310::logs {

struct ExportResult {
    bool ok = false;
    // For the user: "Cannot create file %s"; empty on success.
    QString message;
    // What the system said, for a command-line diagnostic; empty on success.
    QString detail;
};

// One line in the export file's 8-bit character set, without the line end.
QByteArray EncodeExportLine(const QString &line);
// Every line encoded and followed by CR LF: exactly the bytes of the file.
QByteArray EncodeExportLines(const QStringList &lines);

// The text "Cannot create file %s" for a path.
QString CannotCreateFileText(const QString &path);

// Writes every line to path at once, replacing an existing file only on success.
ExportResult WriteExportFile(const QString &path, const QStringList &lines);

// Writes lines as they come; nothing is visible at path before commit().
// Destroying it without commit() is a cancel.
class ExportFile {
public:
    explicit ExportFile(QString path);
    ~ExportFile();
    ExportFile(const ExportFile &) = delete;
    ExportFile &operator=(const ExportFile &) = delete;

    // Opens the hidden temporary file next to the target.
    ExportResult begin();
    // Appends one line and its CR LF. False after a write failure (commit()
    // then reports it).
    bool append(const QString &line);
    // Replaces the target with what was written; on failure nothing changes.
    ExportResult commit();
    // Throws away what was written; the target stays as it was.
    void cancel();

private:
    ExportResult failure() const;

    QString path_;
    std::unique_ptr<QSaveFile> file_;
    bool writeFailed_ = false;
};

} // namespace r310::logs
