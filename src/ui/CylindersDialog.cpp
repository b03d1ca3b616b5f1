#include "CylindersDialog.h"

#include "Dialogs.h"

#include <Cylinders.h>
#include <GasTable.h>
#include <RecordStore.h>

#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <functional>
#include <map>

namespace r310::ui {

namespace {

using TextOf = std::function<QString(std::uint8_t)>;

// The gas table's texts, by code; codes the table does not know (it marks
// them with their number) are left out. The field also takes a typed code.
QComboBox *NewCodeBox(QWidget *parent, const char *name, const TextOf &textOf, std::optional<std::uint8_t> chosen)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    for (int code = 0; code <= 255 && textOf; ++code) {
        const QString text = textOf(static_cast<std::uint8_t>(code)).trimmed();
        if (!text.isEmpty() && !text.contains(QLatin1Char('#')))
            box->addItem(text, code);
    }
    const int at = chosen ? box->findData(*chosen) : -1;
    box->setCurrentIndex(at);
    if (at < 0)
        box->setEditText(QString());
    return box;
}

QLineEdit *NewField(QWidget *parent, const char *name, const QString &placeholder = {})
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setPlaceholderText(placeholder);
    return field;
}

QTableWidgetItem *Cell(const QString &text, bool marked = false)
{
    auto *item = new QTableWidgetItem(text);
    if (marked)
        item->setForeground(Qt::red);
    return item;
}

} // namespace

CylindersDialog::CylindersDialog(records::RecordsTarget target, const GasTable *gasTable, Dialogs &dialogs,
                                 std::optional<std::pair<std::uint8_t, std::uint8_t>> instrumentGasUnit,
                                 QWidget *parent)
    : QDialog(parent), target_(std::move(target)), gasTable_(gasTable), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("CylindersDialog"));
    setWindowTitle(QStringLiteral("Test gas cylinders"));

    const QStringList headings{QStringLiteral("Lot"),         QStringLiteral("Gas"),     QStringLiteral("Concentration"),
                               QStringLiteral("Expires"),     QStringLiteral("Balance"), QStringLiteral("Supplier"),
                               QStringLiteral("State")};
    table_ = new QTableWidget(0, static_cast<int>(headings.size()), this);
    table_->setObjectName(QStringLiteral("CylindersTable"));
    table_->setHorizontalHeaderLabels(headings);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);

    const TextOf gasText = gasTable_ ? TextOf([this](std::uint8_t c) { return gasTable_->GasNameText(c); }) : TextOf();
    const TextOf unitText = gasTable_ ? TextOf([this](std::uint8_t c) { return gasTable_->GasUnitText(c); }) : TextOf();
    lot_ = NewField(this, "CylinderLot");
    gas_ = NewCodeBox(this, "CylinderGas", gasText,
                      instrumentGasUnit ? std::optional<std::uint8_t>(instrumentGasUnit->first) : std::nullopt);
    unit_ = NewCodeBox(this, "CylinderUnit", unitText,
                       instrumentGasUnit ? std::optional<std::uint8_t>(instrumentGasUnit->second) : std::nullopt);
    concentration_ = NewField(this, "CylinderConcentration", QStringLiteral("certified, e.g. 50 or 2.5"));
    expires_ = new QDateEdit(QDate::currentDate().addYears(1), this);
    expires_->setObjectName(QStringLiteral("CylinderExpires"));
    expires_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    expires_->setCalendarPopup(true);
    balance_ = NewField(this, "CylinderBalance", QStringLiteral("optional, e.g. air or N2"));
    supplier_ = NewField(this, "CylinderSupplier", QStringLiteral("optional"));
    add_ = new QPushButton(QStringLiteral("&Add"), this);
    add_->setObjectName(QStringLiteral("CylinderAdd"));
    add_->setAutoDefault(false);
    retire_ = new QPushButton(QStringLiteral("&Retire"), this);
    retire_->setObjectName(QStringLiteral("CylinderRetire"));
    retire_->setAutoDefault(false);
    retire_->setEnabled(false);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("CylindersProblem"));
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: red"));
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    close->setAutoDefault(false);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Lot:"), lot_);
    auto *gasUnit = new QHBoxLayout;
    gasUnit->addWidget(gas_, 1);
    gasUnit->addWidget(new QLabel(QStringLiteral("Unit:"), this));
    gasUnit->addWidget(unit_, 1);
    form->addRow(QStringLiteral("Gas:"), gasUnit);
    form->addRow(QStringLiteral("Certified concentration:"), concentration_);
    form->addRow(QStringLiteral("Expires:"), expires_);
    form->addRow(QStringLiteral("Balance gas:"), balance_);
    form->addRow(QStringLiteral("Supplier:"), supplier_);
    auto *adding = new QGroupBox(QStringLiteral("New cylinder"), this);
    auto *addingLayout = new QVBoxLayout(adding);
    addingLayout->addLayout(form);
    auto *addRow = new QHBoxLayout;
    addRow->addStretch(1);
    addRow->addWidget(add_);
    addingLayout->addLayout(addRow);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(retire_);
    buttons->addWidget(problem_, 1);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);
    layout->addWidget(adding);
    resize(760, 520);

    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
        const QTableWidgetItem *item = table_->currentItem();
        retire_->setEnabled(item && table_->item(item->row(), 6)->text() != QLatin1String("retired"));
    });
    connect(add_, &QPushButton::clicked, this, [this] { AddFromForm(); });
    connect(retire_, &QPushButton::clicked, this, [this] {
        const QTableWidgetItem *item = table_->currentItem();
        if (!item)
            return;
        const QString lot = table_->item(item->row(), 0)->text();
        // Retiring cannot be undone: the cylinder stays in the register, out of use.
        dialogs_.askQuestion(QStringLiteral("Retire cylinder %1? It cannot be used for calibrations any more.").arg(lot),
                             [this, lot](bool yes) {
                                 const QTableWidgetItem *still = table_->currentItem();
                                 if (yes && still && table_->item(still->row(), 0)->text() == lot)
                                     RetireSelected();
                             });
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    Reload();
}

void CylindersDialog::Reload()
{
    table_->setRowCount(0);
    retire_->setEnabled(false);
    QString error;
    const std::unique_ptr<records::RecordStore> store = records::RecordStore::Open(target_, &error);
    const std::vector<records::Cylinder> list =
        store ? records::CylinderRegister(*store).List(&error) : std::vector<records::Cylinder>{};
    problem_->setText(error.isEmpty() ? QString()
                                      : QStringLiteral("The records %1 cannot be read: %2").arg(target_.text(), error));
    const QDate today = QDate::currentDate();
    table_->setRowCount(static_cast<int>(list.size()));
    for (int r = 0; r < static_cast<int>(list.size()); ++r) {
        const records::Cylinder &c = list[static_cast<std::size_t>(r)];
        const bool expired = c.expires < today;
        const QString state = c.retired ? QStringLiteral("retired")
                              : expired ? QStringLiteral("expired")
                                        : QStringLiteral("in use");
        table_->setItem(r, 0, Cell(c.lot));
        table_->setItem(r, 1, Cell(c.gas));
        table_->setItem(r, 2, Cell(QStringLiteral("%1 %2").arg(QString::number(c.concentration, 'g', 12), c.unit)));
        table_->setItem(r, 3, Cell(c.expires.toString(Qt::ISODate), expired && !c.retired));
        table_->setItem(r, 4, Cell(c.balance));
        table_->setItem(r, 5, Cell(c.supplier));
        table_->setItem(r, 6, Cell(state, expired && !c.retired));
    }
    table_->resizeColumnsToContents();
}

QString CylindersDialog::Fail(const QString &problem)
{
    problem_->setText(problem);
    dialogs_.showError(problem);
    return problem;
}

QString CylindersDialog::AddFromForm()
{
    const TextOf gasText = [this](std::uint8_t c) { return gasTable_ ? gasTable_->GasNameText(c) : QString(); };
    const TextOf unitText = [this](std::uint8_t c) { return gasTable_ ? gasTable_->GasUnitText(c) : QString(); };
    const records::CylinderCheck check = records::CheckCylinderEntry(
        {lot_->text(), gas_->currentText(), unit_->currentText(), concentration_->text(),
         expires_->date().toString(Qt::ISODate), balance_->text(), supplier_->text()},
        gasText, unitText);
    if (!check.cylinder) {
        static const std::map<QString, QString> kCaptions{{QStringLiteral("gas"), QStringLiteral("Gas")},
                                                          {QStringLiteral("unit"), QStringLiteral("Unit")},
                                                          {QStringLiteral("concentration"),
                                                           QStringLiteral("Certified concentration")},
                                                          {QStringLiteral("expires"), QStringLiteral("Expires")}};
        const auto caption = kCaptions.find(check.field);
        return Fail(caption == kCaptions.end() ? QStringLiteral("A cylinder %1").arg(check.problem)
                                               : QStringLiteral("%1: %2").arg(caption->second, check.problem));
    }
    QString error;
    const std::unique_ptr<records::RecordStore> store = records::RecordStore::Open(target_, &error);
    if (!store)
        return Fail(QStringLiteral("The records %1 cannot be opened: %2").arg(target_.text(), error));
    records::CylinderRegister cylinders(*store);
    if (cylinders.Find(check.cylinder->lot, &error))
        return Fail(QStringLiteral("Cylinder %1 is already in the register").arg(check.cylinder->lot));
    if (!cylinders.Add(*check.cylinder, &error))
        return Fail(error);
    // Added all the same: an instrument of that range may come later.
    const QString warning = records::CylinderRangeWarning(*store, *check.cylinder);
    if (!warning.isEmpty())
        dialogs_.showMessage(QStringLiteral("Cylinder %1 added; %2.").arg(check.cylinder->lot, warning));
    lot_->clear();
    concentration_->clear();
    Reload();
    emit registerChanged();
    return {};
}

QString CylindersDialog::RetireSelected()
{
    const QTableWidgetItem *item = table_->currentItem();
    if (!item)
        return Fail(QStringLiteral("No cylinder is selected"));
    const QString lot = table_->item(item->row(), 0)->text();
    QString error;
    const std::unique_ptr<records::RecordStore> store = records::RecordStore::Open(target_, &error);
    if (!store)
        return Fail(QStringLiteral("The records %1 cannot be opened: %2").arg(target_.text(), error));
    if (!records::CylinderRegister(*store).Retire(lot, &error))
        return Fail(error);
    Reload();
    emit registerChanged();
    return {};
}

} // namespace r310::ui
