#pragma once
// "Cylinders…": the register of test-gas cylinders in the service records,
// as the Calibration tab reaches it: every cylinder with its gas, certified
// concentration, expiry, balance gas and supplier, a form to add one with
// the checks r310ctl makes, and "Retire" for the selected one.
#include <RecordsLocation.h>

#include <QDialog>

#include <cstdint>
#include <optional>

class QDateEdit;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace r310 {
class GasTable;
}

namespace r310::ui {

class Dialogs;

class CylindersDialog : public QDialog {
    Q_OBJECT
public:
    // gasTable names gases and units; the instrument's gas and unit, when
    // known, are proposed for a new cylinder.
    CylindersDialog(records::RecordsTarget target, const GasTable *gasTable, Dialogs &dialogs,
                    std::optional<std::pair<std::uint8_t, std::uint8_t>> instrumentGasUnit, QWidget *parent);

    // Reads the register again.
    void Reload();
    // Adds the cylinder of the form; empty, or why not (also shown).
    QString AddFromForm();
    // Retires the selected cylinder; empty, or why not (also shown).
    QString RetireSelected();

signals:
    // The register changed: a cylinder was added or retired.
    void registerChanged();

private:
    QString Fail(const QString &problem);

    records::RecordsTarget target_;
    const GasTable *gasTable_;
    Dialogs &dialogs_;
    QTableWidget *table_ = nullptr;
    QLineEdit *lot_ = nullptr;
    QComboBox *gas_ = nullptr;
    QComboBox *unit_ = nullptr;
    QLineEdit *concentration_ = nullptr;
    QDateEdit *expires_ = nullptr;
    QLineEdit *balance_ = nullptr;
    QLineEdit *supplier_ = nullptr;
    QPushButton *add_ = nullptr;
    QPushButton *retire_ = nullptr;
    QLabel *problem_ = nullptr;
};

} // namespace r310::ui
