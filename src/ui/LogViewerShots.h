#pragma once
// R310Conf --view FILE...: the log viewer on its own, and with --screenshot
// DIR its pictures (whole log, zoomed in on the peak, event table).
#include <QString>
#include <QStringList>

namespace r310::ui {

// Runs the application's event loop with the viewer open on the files (or,
// with a screenshot folder, saves the pictures and returns). Exit code 2 when
// no file could be read; 1 when a picture cannot be saved.
int RunLogViewer(const QStringList &files, const QString &screenshotDir);

} // namespace r310::ui
