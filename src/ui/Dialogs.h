#pragma once
// Every message box of the window goes through this one seam, so tests put a
// recorder in its place and never wait on a dialog.
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

namespace r310::ui {

// The application's title: message box captions.
inline const QString kApplicationTitle = QStringLiteral("R310 Configuration");
// The main window's caption.
inline const QString kWindowCaption = QStringLiteral("R310 Konfiguration");

// The application's error text: a full stop is appended when the text's last
// character sorts after "." (so "...!" and "...." stay as they are).
QString ApplicationErrorText(const QString &text);

class Dialogs {
public:
    virtual ~Dialogs();
    // The application's error display: captioned with the application title,
    // the error symbol, an OK button; the text follows ApplicationErrorText.
    virtual void showError(const QString &text) = 0;
    // A plain message with an OK button, captioned with the application title.
    virtual void showMessage(const QString &text) = 0;
    // The file-save dialog of the log exports: the title, the extension added
    // to a name typed without one, the file name proposed. An existing file
    // is replaced only after the dialog's own confirmation. chosen is called
    // once, later or at once, with the confirmed path, or with an empty text
    // when the user cancels; never when the window goes away first.
    virtual void askSaveFileName(const QString &title, const QString &defaultSuffix, const QString &proposedName,
                                 std::function<void(const QString &path)> chosen) = 0;
    // The file-open dialog: the title and the name filter ("Settings
    // profiles (*.json)"); chosen is called as for askSaveFileName.
    virtual void askOpenFileName(const QString &title, const QString &filter,
                                 std::function<void(const QString &path)> chosen) = 0;
    // A question with "Yes" and "No" (the text may be rich text); answered is
    // called once with true for "Yes"; never when the window goes away first.
    virtual void askQuestion(const QString &text, std::function<void(bool yes)> answered) = 0;
    // The same question with "Yes" as the default button, for the step the
    // user nearly always takes next (a certificate after a calibration).
    virtual void askQuestionYesFirst(const QString &text, std::function<void(bool yes)> answered)
    {
        askQuestion(text, std::move(answered));
    }
};

// Window-modal message boxes over the main window. They open without a
// nested event loop, so no handler is re-entered while one is shown. Without
// a parent window (a failed start) the box waits for its OK button.
class MessageBoxDialogs : public Dialogs {
public:
    explicit MessageBoxDialogs(QWidget *parent = nullptr) : parent_(parent) {}
    void setParent(QWidget *parent) { parent_ = parent; }

    void showError(const QString &text) override;
    void showMessage(const QString &text) override;
    void askSaveFileName(const QString &title, const QString &defaultSuffix, const QString &proposedName,
                         std::function<void(const QString &path)> chosen) override;
    void askOpenFileName(const QString &title, const QString &filter,
                         std::function<void(const QString &path)> chosen) override;
    void askQuestion(const QString &text, std::function<void(bool yes)> answered) override;
    void askQuestionYesFirst(const QString &text, std::function<void(bool yes)> answered) override;

private:
    void Ask(const QString &text, bool yesFirst, std::function<void(bool yes)> answered);

    QPointer<QWidget> parent_;
};

} // namespace r310::ui
