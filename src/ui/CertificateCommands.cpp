#include "CertificateCommands.h"

#include "CylindersDialog.h"
#include "R310Cnf.h"
#include "RecordsCommands.h"

#include <Certificate.h>
#include <Cylinders.h>
#include <FleetReport.h>
#include <Paper.h>
#include <RecordStore.h>

#include <QComboBox>
#include <QDate>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSysInfo>

#include <algorithm>

namespace r310::ui {

QBoxLayout *LayoutHolding(QLayout *layout, QWidget *widget)
{
    if (!layout)
        return nullptr;
    if (layout->indexOf(widget) >= 0)
        return qobject_cast<QBoxLayout *>(layout);
    for (int i = 0; i < layout->count(); ++i) {
        if (QBoxLayout *found = LayoutHolding(layout->itemAt(i)->layout(), widget))
            return found;
    }
    return nullptr;
}

namespace {

std::unique_ptr<records::RecordStore> OpenStore(const records::RecordsTarget &target, QString *error)
{
    std::unique_ptr<records::RecordStore> store = records::RecordStore::Open(target, error);
    if (!store)
        *error = QStringLiteral("The records %1 cannot be opened: %2").arg(target.text(), *error);
    return store;
}

} // namespace

CertificateCommands::CertificateCommands(TFo_R310 &window, records::RecordsTarget target, const GasTable *gasTable,
                                         const QLocale &locale)
    : QObject(&window), window_(window), target_(std::move(target)), gasTable_(gasTable), locale_(locale)
{
    setObjectName(QStringLiteral("CertificateCommands"));
    // Typed and filled concentrations alike without group separators.
    locale_.setNumberOptions(locale_.numberOptions() | QLocale::OmitGroupSeparator);
    const CalibrationWidgets &c = window.widgets().calibration;
    choice_ = new QComboBox(c.TabSheet5);
    choice_->setObjectName(QStringLiteral("CylinderChoice"));
    choice_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    choice_->setToolTip(QStringLiteral("The registered test gas cylinder of this span calibration; it fills the "
                                       "gas concentration and goes on the record and the certificate"));
    cylinders_ = new QPushButton(QStringLiteral("Cylinders…"), c.TabSheet5);
    cylinders_->setObjectName(QStringLiteral("ButtonCylinders"));
    cylinders_->setAutoDefault(false);
    // Without records there is no register to choose from.
    choice_->setEnabled(target_.enabled());
    cylinders_->setEnabled(target_.enabled());
    // Beside "Start Cal": the test gas first, then the start.
    if (QBoxLayout *row = LayoutHolding(c.TabSheet5->layout(), c.Button5)) {
        const int at = row->indexOf(c.Button5);
        auto *label = new QLabel(QStringLiteral("Test gas:"), c.TabSheet5);
        label->setBuddy(choice_);
        row->insertWidget(at, label);
        row->insertWidget(at + 1, choice_);
        row->insertWidget(at + 2, cylinders_);
        row->insertSpacing(at + 3, 12);
    }
    connect(choice_, &QComboBox::activated, this, &CertificateCommands::ChooseCylinder);
    // A concentration typed by hand is no cylinder's.
    connect(c.Edit5, &QLineEdit::textEdited, this, [this] { choice_->setCurrentIndex(0); });
    connect(cylinders_, &QPushButton::clicked, this, [this] { OpenCylinders(); });
    connect(&window, &TFo_R310::answerShown, this, [this](const DecodedAnswer &answer, const AnswerFrame &) {
        // Another instrument, or its gas and unit read.
        if (answer.range || answer.identity)
            RefillCylinders();
    });
    if (InstrumentConnection *connection = window.connection())
        connect(connection, &InstrumentConnection::portClosed, this, &CertificateCommands::RefillCylinders);
    RefillCylinders();
}

void CertificateCommands::RefillCylinders()
{
    const QString chosen = choice_->currentData().toString();
    choice_->clear();
    choice_->addItem(QStringLiteral("none (test gas not recorded)"), QString());
    QString error;
    const std::unique_ptr<records::RecordStore> store =
        target_.enabled() ? records::RecordStore::Open(target_, &error) : nullptr;
    if (store) {
        // Once the instrument's gas and unit are read (the Range tab, a start),
        // only its own; before, every cylinder in date, and the start checks
        // the gas and unit the instrument reports before anything is sent.
        const records::CylinderRegister cylinders(*store);
        const InstrumentConnection *connection = window_.connection();
        const QDate today = QDate::currentDate();
        const bool known = connection && connection->portOpen() && connection->record().RangeRead;
        std::vector<records::Cylinder> usable;
        if (known)
            usable = cylinders.Usable(connection->record().GasCode, connection->record().UnitCode, today);
        for (const records::Cylinder &cylinder : known ? usable : cylinders.List()) {
            if (known || records::CylinderDateRefusal(cylinder, cylinder.lot, today).isEmpty())
                choice_->addItem(records::CylinderText(cylinder), cylinder.lot);
        }
    }
    choice_->setCurrentIndex(std::max(0, choice_->findData(chosen)));
}

void CertificateCommands::ChooseCylinder(int index)
{
    const QString lot = choice_->itemData(index).toString();
    if (lot.isEmpty())
        return;
    QString error;
    const std::unique_ptr<records::RecordStore> store = records::RecordStore::Open(target_, &error);
    const std::optional<records::Cylinder> cylinder =
        store ? records::CylinderRegister(*store).Find(lot, &error) : std::nullopt;
    if (cylinder)
        window_.widgets().calibration.Edit5->setText(locale_.toString(cylinder->concentration, 'g', 12));
}

QString CertificateCommands::ChosenLot() const
{
    return choice_->currentData().toString();
}

std::unique_ptr<records::RecordStore> CertificateCommands::OpenRecords()
{
    QString error;
    std::unique_ptr<records::RecordStore> store = OpenStore(target_, &error);
    if (!store)
        window_.dialogs().showError(error);
    return store;
}

void CertificateCommands::ShowConcentration(double concentration)
{
    window_.widgets().calibration.Edit5->setText(locale_.toString(concentration, 'g', 12));
}

CylindersDialog *CertificateCommands::OpenCylinders()
{
    std::optional<std::pair<std::uint8_t, std::uint8_t>> gasUnit;
    if (const InstrumentConnection *connection = window_.connection(); connection && connection->record().RangeRead)
        gasUnit = std::make_pair(connection->record().GasCode, connection->record().UnitCode);
    auto *dialog = new CylindersDialog(target_, gasTable_, window_.dialogs(), gasUnit, &window_);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &CylindersDialog::registerChanged, this, &CertificateCommands::RefillCylinders);
    dialog->show();
    return dialog;
}

void CertificateCommands::OfferCertificate(const QString &serial, bool passed)
{
    window_.dialogs().askQuestionYesFirst(
        QStringLiteral("The calibration of instrument %1 is on record%3.\nSave %4?\n\n"
                       "Technician on the paper: %2 (set in the records window)")
            .arg(serial, records::TechnicianName(QString()),
                 passed ? QStringLiteral(" as passed") : QStringLiteral(" as FAILED"),
                 passed ? QStringLiteral("a calibration certificate") : QStringLiteral("the calibration report")),
        [this, serial](bool yes) {
            if (yes)
                AskCertificate(serial, std::nullopt);
        });
}

void CertificateCommands::AskCertificate(const QString &serial, std::optional<qint64> calibrationId)
{
    QString error;
    const std::unique_ptr<records::RecordStore> store = OpenStore(target_, &error);
    const std::optional<records::CertificateData> data =
        store ? records::CertificateFor(*store, serial, calibrationId, records::TechnicianName(QString()), &error)
              : std::nullopt;
    if (!data) {
        window_.dialogs().showError(error);
        return;
    }
    window_.dialogs().askSaveFileName(
        QStringLiteral("Save calibration certificate"), QStringLiteral("pdf"),
        QStringLiteral("%1.pdf").arg(data->number), [this, certificate = *data](const QString &path) {
            if (path.isEmpty())
                return;
            QString problem;
            if (!records::SavePdf(records::CertificatePdf(certificate), path, &problem))
                window_.dialogs().showError(QStringLiteral("The certificate cannot be written to %1: %2").arg(path, problem));
            else
                window_.ShowNotice(QStringLiteral("Certificate %1 written to %2").arg(certificate.number, path));
        });
}

void CertificateCommands::AskFleetReport()
{
    QString error;
    const std::unique_ptr<records::RecordStore> store = OpenStore(target_, &error);
    const std::vector<records::InstrumentSummary> instruments =
        store ? store->Instruments(&error) : std::vector<records::InstrumentSummary>{};
    if (!error.isEmpty()) {
        window_.dialogs().showError(error);
        return;
    }
    const QDate today = QDate::currentDate();
    std::vector<records::FleetRow> rows = records::FleetRows(instruments, today);
    window_.dialogs().askSaveFileName(
        QStringLiteral("Save fleet report"), QStringLiteral("pdf"),
        QStringLiteral("fleet-report-%1.pdf").arg(today.toString(Qt::ISODate)),
        [this, rows = std::move(rows), today](const QString &path) {
            if (path.isEmpty())
                return;
            QString problem;
            if (!records::SavePdf(records::FleetReportPdf(rows, today, QSysInfo::machineHostName(),
                                                          window_.records().demoRun()),
                                  path, &problem))
                window_.dialogs().showError(QStringLiteral("The fleet report cannot be written to %1: %2").arg(path, problem));
            else
                window_.ShowNotice(QStringLiteral("Fleet report of %1 instruments written to %2").arg(rows.size()).arg(path));
        });
}

CertificateBar::CertificateBar(CertificateCommands &commands, QWidget *parent) : QWidget(parent), commands_(commands)
{
    setObjectName(QStringLiteral("CertificateBar"));
    technician_ = new QLineEdit(records::TechnicianName(QString()), this);
    technician_->setObjectName(QStringLiteral("RecordsTechnician"));
    technician_->setToolTip(QStringLiteral("The technician the calibrations made from now on name on their certificates "
                                           "(r310ctl uses it too); "
                                           "empty: the user signed in"));
    certificate_ = new QPushButton(QStringLiteral("Certificate…"), this);
    certificate_->setObjectName(QStringLiteral("RecordsCertificate"));
    certificate_->setToolTip(QStringLiteral("The calibration certificate of the calibration selected in the history"));
    certificate_->setAutoDefault(false);
    certificate_->setEnabled(false);
    auto *fleet = new QPushButton(QStringLiteral("Fleet report…"), this);
    fleet->setObjectName(QStringLiteral("RecordsFleetReport"));
    fleet->setAutoDefault(false);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(QStringLiteral("&Technician:"), this);
    label->setBuddy(technician_);
    layout->addWidget(label);
    technician_->setMinimumWidth(technician_->fontMetrics().averageCharWidth() * 28);
    layout->addWidget(technician_);
    layout->addStretch(1);
    layout->addWidget(certificate_);
    layout->addWidget(fleet);

    connect(technician_, &QLineEdit::editingFinished, this, [this] {
        if (technician_->text().trimmed() == records::TechnicianName(QString()))
            return;
        records::SetTechnicianName(technician_->text());
        technician_->setText(records::TechnicianName(QString()));
    });
    connect(certificate_, &QPushButton::clicked, this,
            [this] { commands_.AskCertificate(serial_, recordId_ ? std::optional<qint64>(recordId_) : std::nullopt); });
    connect(fleet, &QPushButton::clicked, this, [this] { commands_.AskFleetReport(); });
}

void CertificateBar::Select(const QString &serial, qint64 recordId, const QString &kind)
{
    serial_ = serial;
    recordId_ = recordId;
    certificate_->setEnabled(!serial.isEmpty() && kind == records::kind::kCalibration);
}

} // namespace r310::ui
