#include "IdentityTab.h"

#include "R310Cnf.h"

#include <SessionRecorder.h>

#include <QLineEdit>
#include <QPushButton>

#include <utility>

namespace r310::ui {

IdentityTab::IdentityTab(TFo_R310 &window)
    : QObject(&window), window_(window), form1_(new TForm1(&window))
{
    setObjectName(QStringLiteral("IdentityTab"));
    const MainWidgets &w = window.widgets();
    connect(w.general.ButtonCostID, &QPushButton::clicked, this, &IdentityTab::ButtonCostIDClick);
    connect(w.control.Button4, &QPushButton::clicked, this, &IdentityTab::Button4Click);
    connect(form1_, &QDialog::accepted, this, &IdentityTab::StartFactorySetup);
    if (InstrumentConnection *connection = window.connection())
        connect(connection, &InstrumentConnection::jobFinished, this,
                [this](JobId id, JobOutcome) { JobFinished(id); });
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
    customerId_ = CustomerIdWrite{payload, window_.recorder().HeldSettings(), std::make_shared<CustomerIdResult>()};
    customerIdJob_ = connection->submit(QStringLiteral("customer ID"), CustomerIdJob(payload, customerId_.result));
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
    factoryEntries_ = form1_->Entries();
    factoryBefore_ = window_.recorder().identity();
    factoryResult_ = std::make_shared<FactorySetupResult>();
    factoryJob_ = connection->submit(QStringLiteral("factory setup"),
                                     FactorySetupJob(factoryEntries_, factoryResult_, clock_));
}

void IdentityTab::JobFinished(JobId id)
{
    if (id != 0 && id == customerIdJob_) {
        customerIdJob_ = 0;
        const CustomerIdWrite write = std::exchange(customerId_, CustomerIdWrite{});
        if (write.result)
            window_.recorder().RecordSettingsWrite(CustomerIdSettingsGroup(), write.before,
                                                   SettingsResultOf(write.payload, *write.result));
        return;
    }
    if (id == 0 || id != factoryJob_)
        return;
    factoryJob_ = 0;
    const std::shared_ptr<FactorySetupResult> result = std::move(factoryResult_);
    if (!result)
        return;
    window_.recorder().RecordFactorySetup(factoryBefore_, factoryEntries_, *result);
    if (!result->refusal.isEmpty())
        window_.dialogs().showError(result->refusal);
    // Only a setup the instrument took uses the serial number up.
    if (result->accepted() && form1_)
        form1_->Confirm(factoryEntries_);
}

} // namespace r310::ui
