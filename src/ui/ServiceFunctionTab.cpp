#include "ServiceFunctionTab.h"

#include "R310Cnf.h"
#include "RadioGroup.h"

#include <SessionRecorder.h>

#include <QPointer>
#include <QPushButton>

namespace r310::ui {

ServiceFunctionTab::ServiceFunctionTab(TFo_R310 &window) : QObject(&window), window_(window)
{
    setObjectName(QStringLiteral("ServiceFunctionTab"));
    connect(window.widgets().special.Button9, &QPushButton::clicked, this, &ServiceFunctionTab::Button9Click);
}

void ServiceFunctionTab::Button9Click()
{
    InstrumentConnection *connection = window_.connection();
    if (!connection || confirming_)
        return;
    const std::optional<ServiceCode> code = ServiceCodeForItem(window_.widgets().special.Funktion->itemIndex());
    if (!code) {
        window_.dialogs().showMessage(
            QStringLiteral("Choose a service function under \"Function\" first, then press Start."));
        return;
    }
    // What cannot be undone is sent only after a yes.
    const QString question = ServiceFunctionQuestion(*code);
    if (question.isEmpty()) {
        Send(*code);
        return;
    }
    confirming_ = true;
    QPointer<ServiceFunctionTab> self(this);
    window_.dialogs().askQuestion(question, [self, code = *code](bool yes) {
        if (!self)
            return;
        self->confirming_ = false;
        if (yes)
            self->Send(code);
    });
}

void ServiceFunctionTab::Send(ServiceCode code)
{
    InstrumentConnection *connection = window_.connection();
    if (!connection)
        return;
    auto result = std::make_shared<ServiceFunctionResult>();
    connection->submit(QStringLiteral("service function"), ServiceFunctionJob(code, result), this,
                       [this, result](Outcome) {
                           window_.recorder().RecordServiceFunction(static_cast<int>(result->code), *result);
                           // The instrument went to its update mode: it answers no more requests.
                           if (result->code == ServiceCode::Update && result->accepted())
                               window_.ClosePort();
                       });
}

} // namespace r310::ui
