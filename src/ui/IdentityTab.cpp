#include "IdentityTab.h"

#include "R310Cnf.h"

#include <SessionRecorder.h>

#include <QLineEdit>
#include <QPushButton>

namespace r310::ui {

IdentityTab::IdentityTab(TFo_R310 &window)
    : QObject(&window), window_(window), form1_(new TForm1(&window))
{
    setObjectName(QStringLiteral("IdentityTab"));
    const MainWidgets &w = window.widgets();
    connect(w.general.ButtonCostID, &QPushButton::clicked, this, &IdentityTab::ButtonCostIDClick);
    connect(w.control.Button4, &QPushButton::clicked, this, &IdentityTab::Button4Click);
    connect(form1_, &QDialog::accepted, this, &IdentityTab::StartFactorySetup);
    window.SetLeaveHandler(InstrumentTab::General, [this] { return LeaveGeneral(); });
}

void IdentityTab::ButtonCostIDClick()
{
    InstrumentConnection *connection = window_.connection();
    if (!connection)
        return;
    const CommandPayload payload = CustomerIdPayload(window_.widgets().general.Edit_CostId->text());
    if (!payload.ok()) {
        // Nothing is sent; the ID stays marked as changed.
        window_.dialogs().showError(payload.refusal);
        return;
    }
    // On record with the settings as they were before the write.
    auto result = std::make_shared<CustomerIdResult>();
    connection->submit(QStringLiteral("customer ID"), CustomerIdJob(payload, result), this,
                       [this, payload, result, before = window_.recorder().HeldSettings()](Outcome) {
                           window_.recorder().RecordSettingsWrite(CustomerIdSettingsGroup(), before,
                                                                  SettingsResultOf(payload, *result));
                       });
}

bool IdentityTab::LeaveGeneral()
{
    if (window_.changes().Changed(SettingsGroup::CustomerId))
        ButtonCostIDClick();
    return true;
}

void IdentityTab::Button4Click()
{
    const InstrumentConnection *connection = window_.connection();
    if (!connection || !connection->portOpen() || !form1_)
        return;
    form1_->open();
}

void IdentityTab::StartFactorySetup()
{
    InstrumentConnection *connection = window_.connection();
    if (!connection || !form1_)
        return;
    const FactorySetupEntries entries = form1_->Entries();
    auto result = std::make_shared<FactorySetupResult>();
    connection->submit(QStringLiteral("factory setup"), FactorySetupJob(entries, result, clock_), this,
                       [this, entries, result, before = window_.recorder().identity()](Outcome) {
                           window_.recorder().RecordFactorySetup(before, entries, *result);
                           if (!result->refusal.isEmpty())
                               window_.dialogs().showError(result->refusal);
                           // Only a setup the instrument took uses the serial number up.
                           if (result->accepted() && form1_)
                               form1_->Confirm(entries);
                       });
}

} // namespace r310::ui
