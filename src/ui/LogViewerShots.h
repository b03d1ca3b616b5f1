#pragma once
// R310Conf --view FILE...: the log viewer on its own, and with --screenshot
// DIR its pictures (whole log, zoomed in on the peak, event table).
#include <QString>
#include <QStringList>

namespace r310::ui {

// Runs the application's event loop with the viewer open on the files (or,
// with a screenshot folder, saves the pictures and returns). Exit code 2 when
// no file could be read or the levels are no numbers; 1 when a picture cannot
// be saved.
// levels: "A1,A2,A3,STEL,TWA" as typed into the viewer (may be empty).
int RunLogViewer(const QStringList &files, const QString &levels, const QString &screenshotDir);

} // namespace r310::ui
