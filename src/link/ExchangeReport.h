#pragma once
// Where a transaction reports what it does: the two status panels ("Send
// OBJ/R 2", "No Response from device") and an error for the user (the port
// is not open). The connection engine forwards both to its front end; tests
// and the doctor's probe keep their own.
#include <QString>

namespace r310 {

// Panels of the status bar.
constexpr int kStatusPanelPhase = 0;    // "Search", "Connect"
constexpr int kStatusPanelExchange = 1; // "Send OBJ/R 2", "No Response from device", ...

class ExchangeReport {
public:
    virtual ~ExchangeReport();

    virtual void setStatusText(int panel, const QString &text) = 0;
    // An error the user must see; the transaction goes on when this returns.
    virtual void showError(const QString &text) = 0;
};

} // namespace r310
