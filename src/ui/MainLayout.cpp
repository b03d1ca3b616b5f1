// The main window's widgets and their arrangement. Everything is placed by
// layouts, with field widths taken from the font, so nothing clips when the
// font, the language or the display scaling differ.
#include "ConnectionLamp.h"
#include "MainWidgets.h"
#include "RadioGroup.h"

#include <DecodedValues.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace r310::ui {

namespace {

constexpr int kHeaderHeight = 73;
constexpr int kControlPanelWidth = 122;
constexpr int kPhasePanelWidth = 150;
constexpr int kExchangePanelMinimumWidth = 50;
constexpr int kPictureWidth = 83;
constexpr int kPictureHeight = 71;
constexpr int kTitlePixelSize = 24;
constexpr int kCustomerIdTypedLength = 9;
constexpr int kSectionSpacing = 12;
// A gas value field holds the longest text a value can have: a sign, seven
// significant digits in scientific notation and a three-digit exponent
// ("-3.276800E+131"), or nine decimals at the smallest exponents.
constexpr int kGasValueCharacters = 14;

QStringList Items(const std::array<const char *, 4> &items)
{
    QStringList list;
    for (const char *item : items)
        list.append(QString::fromLatin1(item));
    return list;
}

// Creates the widgets of one tab page on `page`, named and captioned.
class PageBuilder {
public:
    explicit PageBuilder(QWidget *page) : page_(page) {}

    QLineEdit *edit(const char *name, int characters, bool readOnly)
    {
        auto *field = new QLineEdit(page_);
        field->setObjectName(QString::fromLatin1(name));
        field->setReadOnly(readOnly);
        // Wide enough for `characters` digits in the font in use, plus the frame.
        const int text = field->fontMetrics().horizontalAdvance(QString(characters, QLatin1Char('0')));
        field->setFixedWidth(text + 2 * field->fontMetrics().averageCharWidth() + 6);
        return field;
    }

    QLabel *label(const QString &text)
    {
        auto *caption = new QLabel(text, page_);
        caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return caption;
    }

    QCheckBox *check(const char *name, const QString &caption, bool captionLeft = false)
    {
        auto *box = new QCheckBox(caption, page_);
        box->setObjectName(QString::fromLatin1(name));
        // The caption stands left of the box.
        if (captionLeft)
            box->setLayoutDirection(Qt::RightToLeft);
        return box;
    }

    QPushButton *button(const char *name, const QString &caption, bool enabled = true)
    {
        auto *push = new QPushButton(caption, page_);
        push->setObjectName(QString::fromLatin1(name));
        push->setEnabled(enabled);
        push->setAutoDefault(false);
        return push;
    }

    RadioGroup *radios(const char *name, const QString &caption, const QStringList &items, int columns = 1)
    {
        auto *group = new RadioGroup(caption, items, columns, page_);
        group->setObjectName(QString::fromLatin1(name));
        return group;
    }

    QWidget *page() const { return page_; }

private:
    QWidget *page_;
};

QWidget *NewPage(QTabWidget &tabs, const char *name, const QString &caption)
{
    auto *page = new QWidget(&tabs);
    page->setObjectName(QString::fromLatin1(name));
    tabs.addTab(page, caption);
    return page;
}

// Buttons in a row, pushed to the right.
QHBoxLayout *ButtonRow(std::initializer_list<QWidget *> buttons)
{
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    for (QWidget *button : buttons)
        row->addWidget(button);
    return row;
}

// Captioned fields, one a row: the caption, the field, and what stands
// after the field (a button, a second field). column() starts a further
// pair of columns at the top; the grid's last column takes the spare width.
class FieldGrid {
public:
    explicit FieldGrid(PageBuilder &builder, QWidget *owner = nullptr)
        : builder_(builder), grid_(new QGridLayout(owner))
    {
        grid_->setHorizontalSpacing(10);
    }

    FieldGrid &field(const QString &caption, QWidget *field, QWidget *after = nullptr)
    {
        grid_->addWidget(builder_.label(caption), row_, column_);
        grid_->addWidget(field, row_, column_ + 1);
        if (after)
            grid_->addWidget(after, row_, column_ + 2);
        lastColumn_ = std::max(lastColumn_, column_ + (after ? 2 : 1));
        ++row_;
        return *this;
    }
    FieldGrid &gap()
    {
        grid_->setRowMinimumHeight(row_++, kSectionSpacing);
        return *this;
    }
    FieldGrid &column(int minimumGap)
    {
        grid_->setColumnMinimumWidth(lastColumn_ + 1, minimumGap);
        column_ = lastColumn_ + 2;
        row_ = 0;
        return *this;
    }
    // Ends the grid: spare width to the right, spare height below (asked).
    QGridLayout *done(bool stretchBelow = false)
    {
        grid_->setColumnStretch(lastColumn_ + 1, 1);
        if (stretchBelow)
            grid_->setRowStretch(row_, 1);
        return grid_;
    }

private:
    PageBuilder &builder_;
    QGridLayout *grid_;
    int row_ = 0;
    int column_ = 0;
    int lastColumn_ = 1;
};

// A command page: the fields, a gap, the buttons from the left, and the
// spare height below them.
QVBoxLayout *FieldsAndButtons(QWidget *page, QGridLayout *fields, std::initializer_list<QWidget *> buttons)
{
    auto *row = new QHBoxLayout;
    for (QWidget *button : buttons)
        row->addWidget(button);
    row->addStretch(1);
    auto *layout = new QVBoxLayout(page);
    layout->addLayout(fields);
    layout->addSpacing(kSectionSpacing);
    layout->addLayout(row);
    layout->addStretch(1);
    return layout;
}

void BuildHeader(QWidget &parent, HeaderWidgets &header)
{
    header.Panel2 = new QFrame(&parent);
    header.Panel2->setObjectName(QStringLiteral("Panel2"));
    header.Panel2->setFrameShape(QFrame::StyledPanel);
    header.Panel2->setMinimumHeight(kHeaderHeight);
    header.Panel2->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    header.StaticText1 = new QLabel(QStringLiteral("LUMO Configurator"), header.Panel2);
    header.StaticText1->setObjectName(QStringLiteral("StaticText1"));
    QFont title = header.StaticText1->font();
    title.setBold(true);
    title.setPixelSize(kTitlePixelSize);
    header.StaticText1->setFont(title);
    QPalette blue = header.StaticText1->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    header.StaticText1->setPalette(blue);

    header.Image1 = new QLabel(header.Panel2);
    header.Image1->setObjectName(QStringLiteral("Image1"));
    header.Image1->setFixedSize(kPictureWidth, kPictureHeight);
    header.Image1->setScaledContents(true);

    auto *layout = new QHBoxLayout(header.Panel2);
    layout->setContentsMargins(12, 1, 1, 1);
    layout->addWidget(header.StaticText1, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    layout->addWidget(header.Image1, 0, Qt::AlignRight | Qt::AlignVCenter);
}

void BuildControlPanel(QWidget &parent, ControlWidgets &control)
{
    control.Panel1 = new QFrame(&parent);
    control.Panel1->setObjectName(QStringLiteral("Panel1"));
    control.Panel1->setFrameShape(QFrame::StyledPanel);
    control.Panel1->setMinimumWidth(kControlPanelWidth);
    control.Panel1->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);

    control.Shape1 = new ConnectionLamp(control.Panel1);
    control.Shape1->setObjectName(QStringLiteral("Shape1"));
    control.ComPortList = new PortListBox(control.Panel1);
    control.ComPortList->setObjectName(QStringLiteral("ComPortList"));
    control.ComPortList->setEditable(false);
    control.ComPortList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    control.ComPortList->setMinimumContentsLength(8);

    auto button = [&](const char *name, const QString &caption) {
        auto *push = new QPushButton(caption, control.Panel1);
        push->setObjectName(QString::fromLatin1(name));
        push->setAutoDefault(false);
        return push;
    };
    control.Button12 = button("Button12", QStringLiteral("&Open Port"));
    control.Button_ClosePort = button("Button_ClosePort", QStringLiteral("&Close Comport"));
    control.Button_ClosePort->setEnabled(false);
    control.Button3 = button("Button3", QStringLiteral("&Exit"));
    control.Button4 = button("Button4", QStringLiteral("Setup"));
    control.Button4->hide();
    control.ButtonSaveProfile = button("ButtonSaveProfile", QStringLiteral("Save profile…"));
    control.ButtonApplyProfile = button("ButtonApplyProfile", QStringLiteral("Apply profile…"));
    for (QPushButton *profile : {control.ButtonSaveProfile, control.ButtonApplyProfile})
        profile->setEnabled(false);

    auto *layout = new QVBoxLayout(control.Panel1);
    layout->setContentsMargins(8, 10, 8, 10);
    layout->setSpacing(8);
    layout->addWidget(control.Shape1, 0, Qt::AlignHCenter);
    layout->addSpacing(6);
    layout->addWidget(control.ComPortList);
    layout->addWidget(control.Button12);
    layout->addWidget(control.Button_ClosePort);
    layout->addSpacing(kSectionSpacing);
    layout->addWidget(control.Button3);
    layout->addStretch(1);
    layout->addWidget(control.ButtonSaveProfile);
    layout->addWidget(control.ButtonApplyProfile);
    layout->addWidget(control.Button4);
}

void BuildGeneralTab(QTabWidget &tabs, GeneralWidgets &w)
{
    PageBuilder b(NewPage(tabs, "TabSheet1", QStringLiteral("&General")));
    w.TabSheet1 = b.page();
    w.Edit_DevSn = b.edit("Edit_DevSn", 10, true);
    w.Edit_Sver = b.edit("Edit_Sver", 6, true);
    w.Edit_BatKap = b.edit("Edit_BatKap", 6, true);
    w.Edit_CostId = b.edit("Edit_CostId", 12, false);
    // At most 9 typed characters; a longer ID the instrument holds is still shown whole.
    w.Edit_CostId->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^.{0,%1}$").arg(kCustomerIdTypedLength)), w.Edit_CostId));
    w.ButtonCostID = b.button("ButtonCostID", QStringLiteral("Set Costumer &ID"), false);
    w.Edit3 = b.edit("Edit3", 22, true);
    w.Edit4 = b.edit("Edit4", 22, true);
    w.ButtonTime = b.button("ButtonTime", QStringLiteral("Set &Time"));

    FieldGrid(b, b.page())
        .field(QStringLiteral("Serial Number:"), w.Edit_DevSn)
        .field(QStringLiteral("Software Vers."), w.Edit_Sver)
        .field(QStringLiteral("Battery Check"), w.Edit_BatKap)
        .field(QStringLiteral("Customer ID:"), w.Edit_CostId, w.ButtonCostID)
        .gap()
        .field(QStringLiteral("Pc-Time"), w.Edit3)
        .field(QStringLiteral("Time Date:"), w.Edit4, w.ButtonTime)
        .done(true);
}

void BuildRangeTab(QTabWidget &tabs, RangeWidgets &w)
{
    PageBuilder b(NewPage(tabs, "TabSheet2", QStringLiteral("&Range")));
    w.TabSheet2 = b.page();
    w.Edit_MKTyp = b.edit("Edit_MKTyp", 8, true);
    w.Edit_MKSn = b.edit("Edit_MKSn", 8, true);
    w.Edit_MBE = b.edit("Edit_MBE", kGasValueCharacters, true);
    w.Edit_GEGA = b.edit("Edit_GEGA", 20, true);
    w.Edit_NP = b.edit("Edit_NP", 8, true);
    w.Edit_FS = b.edit("Edit_FS", 8, true);
    w.Edit7 = b.edit("Edit7", kGasValueCharacters, true);

    auto *sensor = new QGridLayout;
    sensor->setHorizontalSpacing(8);
    sensor->addWidget(b.label(QStringLiteral("MKType:")), 0, 0);
    sensor->addWidget(w.Edit_MKTyp, 0, 1);
    sensor->setColumnMinimumWidth(3, kSectionSpacing);
    sensor->addWidget(b.label(QStringLiteral("MK-Serial Number:")), 0, 4);
    sensor->addWidget(w.Edit_MKSn, 0, 5);
    sensor->addWidget(b.label(QStringLiteral("Gas:")), 1, 0);
    sensor->addWidget(w.Edit_MBE, 1, 1);
    sensor->addWidget(w.Edit_GEGA, 1, 2, 1, 4, Qt::AlignLeft);
    sensor->addWidget(b.label(QStringLiteral("U-ZP:")), 2, 0);
    sensor->addWidget(w.Edit_NP, 2, 1);
    sensor->addWidget(b.label(QStringLiteral("mV")), 2, 2);
    sensor->addWidget(b.label(QStringLiteral("U-FS:")), 2, 4);
    sensor->addWidget(w.Edit_FS, 2, 5);
    sensor->addWidget(b.label(QStringLiteral("mV")), 2, 6);
    sensor->addWidget(b.label(QStringLiteral("Value:")), 3, 0);
    sensor->addWidget(w.Edit7, 3, 1);
    sensor->setColumnStretch(7, 1);

    static const char *const kAlarmNames[5] = {"A1", "A2", "A3", "AS", "AT"};
    static const char *const kAlarmLabels[5] = {"A1:", "A2:", "A3:", "STEL:", "TWA:"};
    auto *alarms = new QGridLayout;
    alarms->setHorizontalSpacing(12);
    alarms->setVerticalSpacing(4);
    for (int i = 0; i < 5; ++i) {
        const QByteArray name(kAlarmNames[i]);
        AlarmRow &row = w.alarms[static_cast<std::size_t>(i)];
        row.edit = b.edit(("Edit_" + name).constData(), kGasValueCharacters, false);
        row.fallBelow = b.check(("CheckBox_" + name + "U").constData(), QStringLiteral("fall below"));
        row.latching = b.check(("CheckBox_" + name + "S").constData(), QStringLiteral("Latching"));
        row.hornOff = b.check(("CheckBox_" + name + "H").constData(), QStringLiteral("allowed honk off"));
        alarms->addWidget(b.label(QString::fromLatin1(kAlarmLabels[i])), i, 0);
        alarms->addWidget(row.edit, i, 1);
        alarms->addWidget(row.fallBelow, i, 2);
        alarms->addWidget(row.latching, i, 3);
        alarms->addWidget(row.hornOff, i, 4);
    }
    w.Edit_Cal = b.edit("Edit_Cal", kGasValueCharacters, false);
    w.ButtonSetGW = b.button("ButtonSetGW", QStringLiteral("Set &Limit"), false);
    alarms->addWidget(b.label(QStringLiteral("CAL Gas:")), 5, 0);
    alarms->addWidget(w.Edit_Cal, 5, 1);
    alarms->setColumnStretch(5, 1);

    auto *page = new QVBoxLayout(b.page());
    page->addLayout(sensor);
    page->addSpacing(kSectionSpacing);
    page->addLayout(alarms);
    page->addStretch(1);
    page->addLayout(ButtonRow({w.ButtonSetGW}));
}

void BuildSignalsTab(QTabWidget &tabs, SignalsWidgets &w)
{
    PageBuilder b(NewPage(tabs, "TabSheet3", QStringLiteral("&Signals")));
    w.TabSheet3 = b.page();
    const QStringList signalItems = Items(kSignalModeItems);
    w.RadioGroup_Bsig = b.radios("RadioGroup_Bsig", QStringLiteral("Confidence Bleep"), signalItems);
    w.RadioGroup_VSig = b.radios("RadioGroup_VSig", QStringLiteral("Vibrator"), Items(kVibratorModeItems));
    w.RadioGroup_KSig = b.radios("RadioGroup_KSig", QStringLiteral("Key Response"), signalItems);
    w.RadioGroup_Wup = b.radios("RadioGroup_Wup", QStringLiteral("Sensor warm-up"), signalItems);
    w.RadioGroup_DateFmt = b.radios("RadioGroup_DateFmt", QStringLiteral("Date format"), Items(kDateFormatItems));
    w.RadioGroup_Wakeup = b.radios("RadioGroup_Wakeup", QStringLiteral("Wake-up"), Items(kWakeUpModeItems));
    w.CheckBox12h = b.check("CheckBox12h", QStringLiteral("12h Time"));
    w.CheckBoxShowTime = b.check("CheckBoxShowTime", QStringLiteral("Show Time"));
    w.CheckBoxSek = b.check("CheckBoxSek", QStringLiteral("Show Seconds"));
    w.CheckBoxBumpAlarm = b.check("CheckBoxBumpAlarm", QStringLiteral("Bump Alarm Enabled"), true);
    w.CheckBoxCalAlarm = b.check("CheckBoxCalAlarm", QStringLiteral("Cal Alarm"));
    w.CheckBoxCalAlarm->hide();
    w.Edit_BeepTime = b.edit("Edit_BeepTime", 4, false);
    w.Edit_DeltaBumpDay = b.edit("Edit_DeltaBumpDay", 5, false);
    w.EditBumpTests = b.edit("EditBumpTests", 2, false);
    w.Edit_NextBumpDate = b.edit("Edit_NextBumpDate", 10, true);
    w.Edit_DeltaCalDay = b.edit("Edit_DeltaCalDay", 5, false);
    w.Edit_nextCalDate = b.edit("Edit_nextCalDate", 10, true);
    w.ButtonSetSig = b.button("ButtonSetSig", QStringLiteral("Set S&ignals"), false);

    auto *signalModes = new QHBoxLayout;
    for (RadioGroup *group : {w.RadioGroup_Bsig, w.RadioGroup_VSig, w.RadioGroup_KSig, w.RadioGroup_Wup})
        signalModes->addWidget(group, 1);

    auto *displayOptions = new QVBoxLayout;
    displayOptions->addWidget(w.CheckBox12h);
    displayOptions->addWidget(w.CheckBoxShowTime);
    displayOptions->addWidget(w.CheckBoxSek);
    displayOptions->addStretch(1);
    auto *display = new QHBoxLayout;
    display->addWidget(w.RadioGroup_DateFmt, 1);
    display->addWidget(w.RadioGroup_Wakeup, 1);
    display->addSpacing(6);
    display->addLayout(displayOptions, 1);

    auto *service = new QGridLayout;
    service->setHorizontalSpacing(8);
    service->addWidget(b.label(QStringLiteral("Beep ")), 0, 0);
    service->addWidget(w.Edit_BeepTime, 0, 1);
    service->addWidget(b.label(QStringLiteral("Sec.")), 0, 2);
    service->addWidget(b.label(QStringLiteral("Bump Info")), 1, 0);
    service->addWidget(w.EditBumpTests, 1, 1);
    service->setColumnMinimumWidth(3, kSectionSpacing);
    service->addWidget(b.label(QStringLiteral("Delta Bump Days:")), 0, 4);
    service->addWidget(w.Edit_DeltaBumpDay, 0, 5);
    service->addWidget(b.label(QStringLiteral("Delta Cal Days:")), 1, 4);
    service->addWidget(w.Edit_DeltaCalDay, 1, 5);
    service->setColumnMinimumWidth(6, kSectionSpacing);
    service->addWidget(b.label(QStringLiteral("Next Bump:")), 0, 7);
    service->addWidget(w.Edit_NextBumpDate, 0, 8);
    service->addWidget(b.label(QStringLiteral("Next Cal:")), 1, 7);
    service->addWidget(w.Edit_nextCalDate, 1, 8);
    service->setColumnStretch(9, 1);
    service->addWidget(w.CheckBoxBumpAlarm, 2, 4, 1, 2, Qt::AlignLeft);
    service->addWidget(w.CheckBoxCalAlarm, 2, 7, 1, 2, Qt::AlignLeft);

    auto *page = new QVBoxLayout(b.page());
    page->addLayout(signalModes);
    page->addLayout(display);
    page->addLayout(service);
    page->addStretch(1);
    page->addLayout(ButtonRow({w.ButtonSetSig}));
}

void BuildHardwareTab(QTabWidget &tabs, HardwareWidgets &w)
{
    PageBuilder b(NewPage(tabs, "TabSheet4", QStringLiteral("&Hardware")));
    w.TabSheet4 = b.page();
    w.Edit_hwzpt = b.edit("Edit_hwzpt", 8, true);
    w.Edit_hwSpan = b.edit("Edit_hwSpan", 8, true);
    w.Edit_hwUref = b.edit("Edit_hwUref", 8, true);
    w.CheckBox_KeyServ = b.check("CheckBox_KeyServ", QStringLiteral("Service over Keyboard"), true);
    w.CheckBox_KeyServ->setToolTip(QStringLiteral("Mit der Tastatur Kaliebrieren"));
    w.CheckBoxNoVib = b.check("CheckBoxNoVib", QStringLiteral("Vibrator disable"), true);
    w.CheckBoxNoVib->setToolTip(QStringLiteral("Der Vibrator wird nicht angesteuert"));
    w.CheckBoxonlybat = b.check("CheckBoxonlybat", QStringLiteral("Enable only Key Test"), true);
    w.CheckBoxonlybat->setToolTip(QStringLiteral("Nur die Taste Test ist Freigeschaltet"));
    w.CheckBoxSafety = b.check("CheckBoxSafety", QStringLiteral("Data safety mode"));
    w.CheckBoxBestRes = b.check("CheckBoxBestRes", QStringLiteral("Use best resolution from Sensor"));
    w.CheckBoxDspMode = b.check("CheckBoxDspMode", QStringLiteral("Add TWA (min,max) Value to Display"));
    w.CheckBoxDspMode->setToolTip(
        QStringLiteral("For O2 Min Value added,  for H2 Max Value added, any other TWA is added"));
    for (QCheckBox *gated : {w.CheckBoxSafety, w.CheckBoxBestRes, w.CheckBoxDspMode})
        gated->setEnabled(false);
    w.ButtonHWSet = b.button("ButtonHWSet", QStringLiteral("S&et"), false);

    auto *values = new QGridLayout;
    values->setHorizontalSpacing(8);
    values->addWidget(b.label(QStringLiteral("Zero point:")), 0, 0);
    values->addWidget(w.Edit_hwzpt, 0, 1);
    values->addWidget(b.label(QStringLiteral("mV")), 0, 2);
    values->addWidget(b.label(QStringLiteral("Gain:")), 1, 0);
    values->addWidget(w.Edit_hwSpan, 1, 1);
    values->addWidget(b.label(QStringLiteral("Reference Voltage")), 2, 0);
    values->addWidget(w.Edit_hwUref, 2, 1);
    values->addWidget(b.label(QStringLiteral("mV")), 2, 2);
    values->setRowMinimumHeight(3, kSectionSpacing);
    // The boxes whose caption stands left of them line up under the fields.
    int row = 4;
    for (QCheckBox *box : {w.CheckBox_KeyServ, w.CheckBoxNoVib, w.CheckBoxonlybat})
        values->addWidget(box, row++, 0, 1, 2);
    values->setRowStretch(row, 1);

    auto *options = new QVBoxLayout;
    for (QCheckBox *box : {w.CheckBoxSafety, w.CheckBoxBestRes, w.CheckBoxDspMode})
        options->addWidget(box);
    options->addStretch(1);

    auto *columns = new QHBoxLayout;
    columns->addLayout(values);
    columns->addSpacing(3 * kSectionSpacing);
    columns->addLayout(options);
    columns->addStretch(1);

    auto *page = new QVBoxLayout(b.page());
    page->addLayout(columns);
    page->addStretch(1);
    page->addLayout(ButtonRow({w.ButtonHWSet}));
}

void BuildCalibrationTab(QTabWidget &tabs, CalibrationWidgets &w)
{
    PageBuilder b(NewPage(tabs, "TabSheet5", QStringLiteral("Calibration")));
    w.TabSheet5 = b.page();
    w.Edit5 = b.edit("Edit5", 10, false);
    w.Edit5->setText(QStringLiteral("Edit5"));
    w.Edit6 = b.edit("Edit6", 24, true);
    w.Edit6->setText(QStringLiteral("Edit6"));
    // The result field shows its status by its background colour.
    w.Edit6->setAutoFillBackground(true);
    w.Button5 = b.button("Button5", QStringLiteral("Start Cal"));
    w.Button6 = b.button("Button6", QStringLiteral("Horn Check"));
    w.Button7 = b.button("Button7", QStringLiteral("Start Zerro"));

    FieldGrid grid(b);
    grid.field(QStringLiteral("Gas concentration:"), w.Edit5).field(QStringLiteral("Result"), w.Edit6);
    FieldsAndButtons(b.page(), grid.done(), {w.Button5, w.Button6, w.Button7});
}

void BuildSpecialFunctionTab(QTabWidget &tabs, SpecialFunctionWidgets &w)
{
    PageBuilder b(NewPage(tabs, "TabSheet6", QStringLiteral("Special &Function")));
    w.TabSheet6 = b.page();
    w.Funktion = b.radios("Funktion", QStringLiteral("Function"),
                          {QStringLiteral("OFF"), QStringLiteral("Lock"), QStringLiteral("Reset"),
                           QStringLiteral("Default"), QStringLiteral("Update"), QStringLiteral("UnLock")});
    w.Funktion->setItemIndex(-1);
    w.Button9 = b.button("Button9", QStringLiteral("Start"));

    auto *row = new QHBoxLayout;
    row->addWidget(w.Funktion);
    row->addWidget(w.Button9, 0, Qt::AlignBottom);
    row->addStretch(1);
    auto *page = new QVBoxLayout(b.page());
    page->addLayout(row);
    page->addStretch(1);
}

void BuildEventTab(QTabWidget &tabs, EventWidgets &w)
{
    PageBuilder b(NewPage(tabs, "TabSheet7", QStringLiteral("Event properties")));
    w.TabSheet7 = b.page();
    w.Edit1 = b.edit("Edit1", 8, true);
    w.Edit2 = b.edit("Edit2", 8, true);
    w.Edit8 = b.edit("Edit8", 8, true);
    w.Edit9 = b.edit("Edit9", 8, false);
    w.Button1 = b.button("Button1", QStringLiteral("Read"));
    w.Button2 = b.button("Button2", QStringLiteral("Clear"));

    FieldGrid grid(b);
    grid.field(QStringLiteral("Event Actuell"), w.Edit1)
        .field(QStringLiteral("Event Count"), w.Edit2, w.Edit8)
        .field(QStringLiteral("Max Events"), w.Edit9);
    FieldsAndButtons(b.page(), grid.done(), {w.Button1, w.Button2});
}

void BuildLoggerTab(QTabWidget &tabs, LoggerWidgets &w)
{
    PageBuilder b(NewPage(tabs, "TabSheet8", QStringLiteral("Datalogging")));
    w.TabSheet8 = b.page();
    w.Edit10 = b.edit("Edit10", 8, true);
    w.Edit11 = b.edit("Edit11", 8, true);
    w.Edit12 = b.edit("Edit12", 8, true);
    w.Edit13 = b.edit("Edit13", 8, false);
    w.Edit14 = b.edit("Edit14", 8, false);
    w.Edit15 = b.edit("Edit15", 8, false);
    w.Edit16 = b.edit("Edit16", 8, false);
    w.Button8 = b.button("Button8", QStringLiteral("Read"));
    w.Button10 = b.button("Button10", QStringLiteral("Clear"));
    w.Button11 = b.button("Button11", QStringLiteral("Set Paramet"));
    w.ProgressBar1 = new QProgressBar(b.page());
    w.ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    w.ProgressBar1->setRange(0, 100);
    w.ProgressBar1->setValue(0);
    w.ProgressBar1->setTextVisible(false);

    FieldGrid grid(b);
    grid.field(QStringLiteral("DL Block"), w.Edit10)
        .field(QStringLiteral("DL Block Cnt"), w.Edit11)
        .field(QStringLiteral("Dl Block max:"), w.Edit12)
        .column(3 * kSectionSpacing)
        .field(QStringLiteral("DL Intervall:"), w.Edit13)
        .field(QStringLiteral("Obj1"), w.Edit14)
        .field(QStringLiteral("Obj2"), w.Edit15)
        .field(QStringLiteral("Obj3"), w.Edit16);
    FieldsAndButtons(b.page(), grid.done(), {w.Button8, w.Button10, w.Button11})->addWidget(w.ProgressBar1);
}

void BuildStatusBar(QMainWindow &window, StatusWidgets &status)
{
    status.StatusBar1 = window.statusBar();
    status.StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    status.StatusBar1->setSizeGripEnabled(false);
    for (std::size_t i = 0; i < status.panels.size(); ++i) {
        auto *panel = new QLabel(status.StatusBar1);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        status.panels[i] = panel;
    }
    status.panels[0]->setFixedWidth(kPhasePanelWidth);
    status.panels[0]->setAlignment(Qt::AlignCenter);
    status.panels[1]->setMinimumWidth(kExchangePanelMinimumWidth);
    status.StatusBar1->addWidget(status.panels[0]);
    // The exchange panel takes the remaining width, so its texts stay readable.
    status.StatusBar1->addWidget(status.panels[1], 1);
}

} // namespace

void PortListBox::showPopup()
{
    if (beforePopup)
        beforePopup();
    QComboBox::showPopup();
}

MainWidgets BuildMainWidgets(QMainWindow &window)
{
    MainWidgets w;
    auto *central = new QWidget(&window);
    central->setObjectName(QStringLiteral("ClientArea"));
    BuildHeader(*central, w.header);
    BuildControlPanel(*central, w.control);

    w.PageControl1 = new QTabWidget(central);
    w.PageControl1->setObjectName(QStringLiteral("PageControl1"));
    w.PageControl1->setUsesScrollButtons(false);
    BuildGeneralTab(*w.PageControl1, w.general);
    BuildRangeTab(*w.PageControl1, w.range);
    BuildSignalsTab(*w.PageControl1, w.signalTab);
    BuildHardwareTab(*w.PageControl1, w.hardware);
    BuildCalibrationTab(*w.PageControl1, w.calibration);
    BuildSpecialFunctionTab(*w.PageControl1, w.special);
    BuildEventTab(*w.PageControl1, w.events);
    BuildLoggerTab(*w.PageControl1, w.logger);
    w.PageControl1->setCurrentIndex(0);

    auto *body = new QHBoxLayout;
    body->setSpacing(4);
    body->addWidget(w.PageControl1, 1);
    body->addWidget(w.control.Panel1);

    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 2);
    layout->setSpacing(4);
    layout->addWidget(w.header.Panel2);
    layout->addLayout(body, 1);
    window.setCentralWidget(central);

    BuildStatusBar(window, w.status);
    return w;
}

} // namespace r310::ui
