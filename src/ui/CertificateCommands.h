#pragma once
// Certificates and test gas in the window: the Calibration tab's choice of a
// registered cylinder for the connected instrument's gas and unit (which
// fills the concentration) and its "Cylinders…" button; the calibration
// certificate, offered when a calibration ends and made from the records
// window; the fleet report; the technician's name the certificates carry.
// The checks, the certificate and the report are the core's, the same as
// r310ctl's.
#include <Calibration.h>
#include <RecordsLocation.h>

#include <QJsonObject>
#include <QLocale>
#include <QObject>
#include <QWidget>

#include <memory>
#include <optional>

class QBoxLayout;
class QComboBox;
class QLayout;
class QLineEdit;
class QPushButton;

namespace r310 {
class GasTable;
namespace records {
class RecordStore;
}
} // namespace r310

namespace r310::ui {

class TFo_R310;
class CylindersDialog;

// The box layout that holds `widget` among `layout` and its children.
QBoxLayout *LayoutHolding(QLayout *layout, QWidget *widget);

class CertificateCommands : public QObject {
    Q_OBJECT
public:
    // locale: the user's regional settings, as the concentration field takes them.
    CertificateCommands(TFo_R310 &window, records::RecordsTarget target, const GasTable *gasTable,
                        const QLocale &locale);

    const records::RecordsTarget &target() const { return target_; }

    // The lot of the cylinder chosen in the "Test gas" list; empty for none.
    QString ChosenLot() const;
    // The records for the cylinder register; null with the message shown.
    std::unique_ptr<records::RecordStore> OpenRecords();
    // Shows a concentration in the gas concentration field.
    void ShowConcentration(double concentration);
    // Fills the choice anew from the register for the connected instrument.
    void RefillCylinders();
    CylindersDialog *OpenCylinders();

    // After a calibration of instrument `serial` was recorded: asks whether
    // to save its certificate ("Yes" first), or for a failed one its report.
    void OfferCertificate(const QString &serial, bool passed = true);
    // Asks for the file and writes the certificate of the calibration
    // (the latest without an id); errors are shown.
    void AskCertificate(const QString &serial, std::optional<qint64> calibrationId);
    // Asks for the file and writes the fleet report.
    void AskFleetReport();

private:
    void ChooseCylinder(int index);

    TFo_R310 &window_;
    records::RecordsTarget target_;
    const GasTable *gasTable_;
    QLocale locale_;
    QComboBox *choice_ = nullptr;
    QPushButton *cylinders_ = nullptr;
};

// The records window's row of certificate controls: the technician's name
// (kept in the programs' settings, shared with r310ctl), "Certificate…" for
// the calibration selected in the history, and "Fleet report…".
class CertificateBar : public QWidget {
    Q_OBJECT
public:
    CertificateBar(CertificateCommands &commands, QWidget *parent);
    // The history's selection: the instrument, the record and its kind.
    void Select(const QString &serial, qint64 recordId, const QString &kind);

private:
    CertificateCommands &commands_;
    QLineEdit *technician_ = nullptr;
    QPushButton *certificate_ = nullptr;
    QString serial_;
    qint64 recordId_ = 0;
};

} // namespace r310::ui
