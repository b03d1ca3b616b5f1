#pragma once
// The identity commands of the window: "Set Costumer &ID" on the General tab
// (also written, without asking, when the tab is left with the ID changed)
// and the factory "Setup" with its dialog TForm1. The payloads, writes and
// read-backs are the commands' own; the window gathers the fields, shows
// refusals and keeps the dialog's memory.
#include "SetupDialog.h"

#include <CustomerId.h>
#include <FactorySetup.h>

#include <QObject>
#include <QPointer>

#include <memory>

namespace r310::ui {

class TFo_R310;

class IdentityTab : public QObject {
    Q_OBJECT
public:
    explicit IdentityTab(TFo_R310 &window);

    // "Set Costumer &ID": writes Edit_CostId as it stands (a 10-character ID
    // read from the instrument goes back whole) and reads the identity back.
    void ButtonCostIDClick();
    // Leaving "&General" while connected: a changed customer ID is written;
    // the change goes ahead whatever becomes of the write.
    bool LeaveGeneral();
    // "Setup": with the port open, shows TForm1 window-modal; its "&Ok"
    // starts the factory setup.
    void Button4Click();

    TForm1 &SetupDialog() { return *form1_; }
    // The PC's clock the factory setup takes its time from (tests fix it).
    void SetClock(std::function<std::int32_t()> now) { clock_ = std::move(now); }

private:
    void StartFactorySetup();

    TFo_R310 &window_;
    QPointer<TForm1> form1_;
    std::function<std::int32_t()> clock_;
};

} // namespace r310::ui
