#pragma once
// The factory setup dialog TForm1 ("Setup"): serial number, customer ID and
// "Update Grenzwertliste". It proposes the serial number after the last one
// written and the last customer ID; its memory lives for the run and moves
// on only when the instrument took a setup, so no serial number is skipped.
// It is shown window-modal without a nested event loop: "&Ok" with entries
// that can be sent emits accepted(), anything else leaves nothing behind.
#include <FactorySetup.h>

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace r310::ui {

// What the dialog remembers between uses.
struct SetupMemory {
    std::int64_t lastSerialNumber = 0; // the last one the instrument took; 0 before the first
    QString lastCustomerId;

    // The proposal: the last serial number plus one, at least 8 digits.
    QString ProposedSerialText() const;
};

class TForm1 : public QDialog {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);

    QLineEdit *Edit1 = nullptr;      // serial number
    QLineEdit *Edit2 = nullptr;      // customer ID
    QCheckBox *CheckBox1 = nullptr;  // "Update Grenzwertliste"
    QPushButton *Button1 = nullptr;  // "&Ok", default
    QPushButton *Button2 = nullptr;  // "&Abbruch", cancel
    QLabel *Refusal = nullptr;       // why "&Ok" did not close the dialog

    // The entries of the last "&Ok".
    const FactorySetupEntries &Entries() const { return entries_; }
    bool UpdateLimitList() const;

    // The instrument took these entries: the next use proposes the serial
    // number after them and their customer ID.
    void Confirm(const FactorySetupEntries &entries);
    const SetupMemory &Memory() const { return memory_; }

    // "&Ok": checks the entries; with entries that can be sent they are kept
    // and the dialog closes with the result OK, otherwise it says why.
    void Button1Click();

protected:
    // Fills the fields from the memory each time the dialog is shown (not
    // when it becomes active again, which would overwrite what was typed).
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FillFromMemory();
    bool FilterKey(QLineEdit &edit, const QKeyEvent &key);

    SetupMemory memory_;
    FactorySetupEntries entries_;
};

} // namespace r310::ui
