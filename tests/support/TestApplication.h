#pragma once
// The application object and its event loop, as tests need them for timers,
// notifications and queued calls.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace r310test {

// Makes sure a QCoreApplication exists; it lives until the program ends.
void EnsureApplication();

// Runs the event loop until done() holds or the time is up; returns done().
// The loop blocks for events as the application's loop does, so the event
// dispatcher announces each wait; a short wake-up keeps done() checked when
// another thread changes what it looks at.
bool SpinUntil(const std::function<bool()> &done, std::chrono::milliseconds limit);

// Runs the event loop for the given time.
void SpinFor(std::chrono::milliseconds time);

// A file's bytes; "<unreadable>" when it cannot be read.
QByteArray ReadAll(const QString &path);
// Writes `bytes` as the whole file at `path`; false when it could not.
bool WriteFile(const QString &path, const QByteArray &bytes);
// What a folder holds, hidden entries too.
QStringList Entries(const QString &directory);

} // namespace r310test
