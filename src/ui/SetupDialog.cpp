#include "SetupDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace r310::ui {

namespace {

constexpr int kCustomerIdMaxLength = kFactoryCustomerIdLength;

// Keys that pass the filters although they carry a character: Backspace,
// Enter, copy, paste and cut, and the dialog's own keys (Tab moves on,
// Escape cancels, Delete is no character).
bool PassingControl(QChar c)
{
    switch (c.unicode()) {
    case 0x08: // Backspace
    case 0x0D: // Enter
    case 0x0A:
    case 0x03: // Ctrl+C
    case 0x16: // Ctrl+V
    case 0x18: // Ctrl+X
    case 0x09: // Tab
    case 0x1B: // Escape
    case 0x7F: // Delete
        return true;
    default:
        return false;
    }
}

QLabel *NamedLabel(const char *name, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

} // namespace

QString SetupMemory::ProposedSerialText() const
{
    return QString::number(lastSerialNumber + 1).rightJustified(kFactorySerialDigits, QLatin1Char('0'));
}

TForm1::TForm1(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Setup"));
    setModal(true);

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setMaxLength(kFactorySerialDigits);
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setMaxLength(kCustomerIdMaxLength);
    CheckBox1 = new QCheckBox(QStringLiteral("Update Grenzwertliste"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    Button1 = new QPushButton(QStringLiteral("&Ok"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("&Abbruch"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setAutoDefault(false);
    Refusal = NamedLabel("Refusal", QString(), this);
    Refusal->setWordWrap(true);
    QPalette warning = Refusal->palette();
    warning.setColor(QPalette::WindowText, Qt::red);
    Refusal->setPalette(warning);
    Refusal->hide();

    auto *fields = new QGridLayout;
    fields->addWidget(NamedLabel("Label1", QStringLiteral("Serien  Nummer:"), this), 0, 0);
    fields->addWidget(Edit1, 0, 1);
    fields->addWidget(NamedLabel("Label2", QStringLiteral("Costumer ID:"), this), 1, 0);
    fields->addWidget(Edit2, 1, 1);
    fields->addWidget(CheckBox1, 2, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(Refusal);
    layout->addLayout(buttons);

    Edit1->installEventFilter(this);
    Edit2->installEventFilter(this);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

bool TForm1::UpdateLimitList() const
{
    return CheckBox1->isChecked();
}

void TForm1::Confirm(const FactorySetupEntries &entries)
{
    memory_.lastSerialNumber = entries.serialNumber;
    memory_.lastCustomerId = entries.customerId;
}

void TForm1::showEvent(QShowEvent *event)
{
    FillFromMemory();
    QDialog::showEvent(event);
}

void TForm1::FillFromMemory()
{
    const QString proposal = memory_.ProposedSerialText();
    // A proposal beyond 8 digits is shown whole ("&Ok" then says it cannot
    // be sent) rather than cut to a number that was never meant.
    Edit1->setMaxLength(std::max<int>(kFactorySerialDigits, static_cast<int>(proposal.size())));
    Edit1->setText(proposal);
    Edit2->setText(memory_.lastCustomerId);
    Refusal->clear();
    Refusal->hide();
    Edit1->setFocus();
    Edit1->selectAll();
}

void TForm1::Button1Click()
{
    QString why;
    const std::optional<std::int32_t> serial = ParseFactorySerialNumber(Edit1->text(), &why);
    std::optional<QString> customerId;
    if (serial)
        customerId = FactoryCustomerIdFromText(Edit2->text(), &why);
    if (!serial || !customerId) {
        Refusal->setText(why);
        Refusal->show();
        (serial ? Edit2 : Edit1)->setFocus();
        return;
    }
    entries_.serialNumber = *serial;
    entries_.customerId = *customerId;
    entries_.updateLimitList = UpdateLimitList();
    accept();
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && (watched == Edit1 || watched == Edit2))
        return FilterKey(*static_cast<QLineEdit *>(watched), static_cast<const QKeyEvent &>(*event));
    return QDialog::eventFilter(watched, event);
}

// Returns true when the key is taken here (discarded, or entered changed).
bool TForm1::FilterKey(QLineEdit &edit, const QKeyEvent &key)
{
    const QString text = key.text();
    if (text.isEmpty())
        return false; // arrows, Home, End: no character
    if (text.size() == 1 && text.at(0).unicode() < 0x20)
        return !PassingControl(text.at(0));
    if (text.size() == 1 && PassingControl(text.at(0)))
        return false;
    QString entered;
    for (const QChar c : text) {
        const QChar upper = &edit == Edit2 ? FactoryUpperCase(c) : c;
        const bool accepted = &edit == Edit1 ? FactorySerialCharacter(upper) : FactoryCustomerIdCharacter(upper);
        if (accepted)
            entered.append(upper);
    }
    if (entered == text)
        return false;
    if (!entered.isEmpty())
        edit.insert(entered);
    return true;
}

} // namespace r310::ui
