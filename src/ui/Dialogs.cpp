#include "Dialogs.h"

#include <QFileDialog>
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

// Window-modal without a nested event loop, deleted when closed; chosen gets
// the confirmed path, or an empty text when the user cancels.
void OpenFileDialog(QWidget *parent, QFileDialog *dialog, std::function<void(const QString &path)> chosen)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // finished comes once, for OK and for cancel alike.
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, chosen = std::move(chosen)](int outcome) {
        const QStringList files = dialog->selectedFiles();
        const bool confirmed = outcome == QDialog::Accepted && !files.isEmpty();
        chosen(confirmed ? files.first() : QString());
    });
    if (parent)
        dialog->open();
    else
        dialog->exec();
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

void MessageBoxDialogs::askSaveFileName(const QString &title, const QString &defaultSuffix,
                                        const QString &proposedName,
                                        std::function<void(const QString &path)> chosen)
{
    // Window-modal without a nested event loop, like the message boxes; the
    // dialog asks itself before an existing file is replaced.
    auto *dialog = new QFileDialog(parent_, title, QString(), QString());
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(defaultSuffix);
    dialog->selectFile(proposedName);
    OpenFileDialog(parent_, dialog, std::move(chosen));
}

void MessageBoxDialogs::askOpenFileName(const QString &title, const QString &filter,
                                        std::function<void(const QString &path)> chosen)
{
    auto *dialog = new QFileDialog(parent_, title, QString(), filter);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    OpenFileDialog(parent_, dialog, std::move(chosen));
}

void MessageBoxDialogs::askQuestion(const QString &text, std::function<void(bool yes)> answered)
{
    Ask(text, false, std::move(answered));
}

void MessageBoxDialogs::askQuestionYesFirst(const QString &text, std::function<void(bool yes)> answered)
{
    Ask(text, true, std::move(answered));
}

void MessageBoxDialogs::Ask(const QString &text, bool yesFirst, std::function<void(bool yes)> answered)
{
    auto *box = new QMessageBox(QMessageBox::Question, kApplicationTitle, text, QMessageBox::Yes | QMessageBox::No,
                                parent_);
    box->setDefaultButton(yesFirst ? QMessageBox::Yes : QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // finished comes once, for either button and for the window's close box.
    QObject::connect(box, &QMessageBox::finished, box, [box, answered = std::move(answered)](int) {
        answered(box->clickedButton() == box->button(QMessageBox::Yes));
    });
    if (parent_)
        box->open();
    else
        box->exec();
}

} // namespace r310::ui
