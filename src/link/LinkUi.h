#pragma once
// What the instrument link needs from the screen: the two status bar panels,
// an immediate repaint and a modal error message. The main window implements
// it; tests and the command-line tool supply their own.
#include <QString>

namespace r310 {

// Panels of the status bar.
constexpr int kStatusPanelPhase = 0;    // "Search", "Connect"
constexpr int kStatusPanelExchange = 1; // "Send OBJ/R 2", "No Response from device", ...

class LinkUi {
public:
    virtual ~LinkUi();

    virtual void setStatusText(int panel, const QString &text) = 0;
    // Paints pending changes now, before a wait begins.
    virtual void repaint() = 0;
    // Shows a modal error message with a single OK button and returns when it is closed.
    virtual void showError(const QString &text) = 0;
};

} // namespace r310
