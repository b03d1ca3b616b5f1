#include "Dialogs.h"

#include <QMessageBox>

namespace r310::ui {

namespace {

void OpenMessageBox(QWidget *parent, QMessageBox::Icon icon, const QString &text)
{
    if (!parent) {
        // No window yet (a failed start): nothing can be re-entered, so wait for OK.
        QMessageBox box(icon, kApplicationTitle, text, QMessageBox::Ok);
        box.exec();
        return;
    }
    // Owned by the window, deleted when closed.
    auto *box = new QMessageBox(icon, kApplicationTitle, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace

QString ApplicationErrorText(const QString &text)
{
    if (!text.isEmpty() && text.back() > QLatin1Char('.'))
        return text + QLatin1Char('.');
    return text;
}

Dialogs::~Dialogs() = default;

void MessageBoxDialogs::showError(const QString &text)
{
    OpenMessageBox(parent_, QMessageBox::Critical, ApplicationErrorText(text));
}

void MessageBoxDialogs::showMessage(const QString &text)
{
    OpenMessageBox(parent_, QMessageBox::NoIcon, text);
}

} // namespace r310::ui
