// Every number field of the window, and the customer ID, given text, nothing,
// huge and negative numbers, other regional settings' separators and
// characters beyond Latin-1, in English and German regional settings: the
// command behind the field says why once, and nothing reaches the instrument.
#include "UiRig.h"

#include <IdentityTab.h>
#include <SetupDialog.h>

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
const QLocale kGerman(QLocale::German, QLocale::Germany);

// What no number field takes, in any regional settings.
const QStringList kNoNumber = {
    QStringLiteral("abc"),
    QString(),
    QStringLiteral("1e308"),
    QStringLiteral("99999999999999999999"),
    QStringLiteral("\uFF15"),     // fullwidth five
    QStringLiteral("\u0663"),     // Arabic-Indic three
    QStringLiteral("\u20AC"),     // euro sign
    QStringLiteral("\U0001F600"), // an emoji
    QStringLiteral("1'000"),
    QStringLiteral("0x10"),
};

// The other regional settings' decimal and group separators.
QStringList ForeignSeparators(const QLocale &locale)
{
    return locale.decimalPoint() == QStringLiteral(",")
               ? QStringList{QStringLiteral("1.5"), QStringLiteral("1,000.5")}
               : QStringList{QStringLiteral("1,5"), QStringLiteral("1.000,5")};
}

// What no whole-number field takes besides.
const QStringList kNoWholeNumber = {QStringLiteral("1.5"), QStringLiteral("1,5"), QStringLiteral("-1"),
                                    QStringLiteral("2147483648")};

struct Bench : WindowRig {
    explicit Bench(const QLocale &locale, QStringList arguments = {}) : WindowRig(Options(locale, arguments)) {}
    static RigOptions Options(const QLocale &locale, const QStringList &arguments)
    {
        RigOptions options;
        options.scenario = ExponentMinusTwoScenario();
        options.locale = locale;
        options.idlePoll = false;
        if (!arguments.isEmpty())
            options.arguments = arguments;
        return options;
    }

    // Everything the window said through its message seam.
    QStringList said() const { return dialogs.errors + dialogs.messages; }

    // Replaces the field's text as the user does: select all, delete, then a
    // key for each character (one beyond U+FFFF is pasted, as no key types it).
    static void Type(QLineEdit *edit, const QString &text)
    {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c.isHighSurrogate() && i + 1 < text.size())
                edit->insert(text.mid(i++, 2));
            else if (c.unicode() >= 0x20 && c.unicode() < 0x7F)
                QTest::keyClick(edit, c.toLatin1());
            else
                QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
    std::vector<LineFrame> Click(QPushButton *button)
    {
        return During([button] { QTest::mouseClick(button, Qt::LeftButton); });
    }
    // Types the value and leaves the field with Tab; what the instrument heard meanwhile.
    std::vector<LineFrame> TypeAndLeave(QLineEdit *edit, const QString &value)
    {
        return During([&] {
            Type(edit, value);
            QTest::keyClick(edit, Qt::Key_Tab);
        });
    }
};

// A field, the button that sends what it holds, and the tab they are on.
struct Field {
    const char *name;
    InstrumentTab tab;
    QLineEdit *edit;
    QPushButton *button;
};

// Types each value into the field, presses its button, and expects one
// message and an empty line each time.
void ExpectRefused(Bench &bench, const Field &field, const QStringList &values)
{
    ASSERT_TRUE(bench.ShowTab(field.tab)) << field.name;
    for (const QString &value : values) {
        const QStringList before = bench.said();
        Bench::Type(field.edit, value);
        const std::vector<LineFrame> sent = bench.Click(field.button);
        const QStringList said = bench.said();
        EXPECT_EQ(said.size(), before.size() + 1) << field.name << " with '" << value.toStdString() << "'";
        for (const QString &text : said)
            EXPECT_FALSE(text.isEmpty() || text.contains(QChar::ReplacementCharacter)) << text.toStdString();
        EXPECT_TRUE(sent.empty()) << field.name << " with '" << value.toStdString() << "' sent " << sent.front().name();
    }
}

std::vector<Field> NumberFields(const MainWidgets &w)
{
    std::vector<Field> fields;
    const char *limits[] = {"A1", "A2", "A3", "STEL", "TWA"};
    for (std::size_t i = 0; i < 5; ++i)
        fields.push_back({limits[i], InstrumentTab::Range, w.range.alarms[i].edit, w.range.ButtonSetGW});
    fields.push_back({"CAL Gas", InstrumentTab::Range, w.range.Edit_Cal, w.range.ButtonSetGW});
    fields.push_back({"Gas concentration", InstrumentTab::Calibration, w.calibration.Edit5, w.calibration.Button5});
    return fields;
}

std::vector<Field> WholeNumberFields(const MainWidgets &w)
{
    return {
        {"Beep interval", InstrumentTab::Signals, w.signalTab.Edit_BeepTime, w.signalTab.ButtonSetSig},
        {"Bump Info", InstrumentTab::Signals, w.signalTab.EditBumpTests, w.signalTab.ButtonSetSig},
        {"Max Events", InstrumentTab::EventProperties, w.events.Edit9, w.events.Button2},
        {"DL Intervall", InstrumentTab::Datalogging, w.logger.Edit13, w.logger.Button11},
    };
}

} // namespace

TEST(WindowBadInput, GasValuesRefuseWhatIsNoNumberInTheUsersRegionalSettings)
{
    for (const QLocale &locale : {kEnglish, kGerman}) {
        Bench bench(locale);
        ASSERT_TRUE(bench.Connect());
        for (const Field &field : NumberFields(bench.w())) {
            QStringList values = kNoNumber + ForeignSeparators(locale);
            // A negative calibration gas cannot be sent; negative limits can.
            if (QByteArray(field.name) == "Gas concentration")
                values += QStringLiteral("-1");
            ExpectRefused(bench, field, values);
        }
        // Every value of every field was said no to (7 fields, 12 values, the
        // negative gas), and once more the last limit when the Range tab was
        // left with it, which writes the tab's changes.
        EXPECT_EQ(bench.said().size(), 7 * 12 + 1 + 1);
    }
}

TEST(WindowBadInput, WholeNumbersRefuseWhatIsNoWholeNumberOrOutsideTheirRange)
{
    for (const QLocale &locale : {kEnglish, kGerman}) {
        Bench bench(locale);
        ASSERT_TRUE(bench.Connect());
        for (const Field &field : WholeNumberFields(bench.w()))
            ExpectRefused(bench, field, kNoNumber + kNoWholeNumber);
        // 4 fields, 14 values, and the last signal when the tab was left.
        EXPECT_EQ(bench.said().size(), 4 * 14 + 1);
    }
    Bench bench(kEnglish);
    ASSERT_TRUE(bench.Connect());
    const std::vector<Field> fields = WholeNumberFields(bench.w());
    ExpectRefused(bench, fields[0], {QStringLiteral("256")});
    ExpectRefused(bench, fields[1], {QStringLiteral("4")});
    ExpectRefused(bench, fields[2], {QStringLiteral("0"), QStringLiteral("514")});
    ExpectRefused(bench, fields[3], {QStringLiteral("29"), QStringLiteral("301"), QStringLiteral("65566")});
}

TEST(WindowBadInput, IntervalFieldsTakeTheirDefaultForWhatIsNoNumberAndRefuseWhatIsOutOfRange)
{
    Bench bench(kGerman);
    ASSERT_TRUE(bench.ConnectOn(InstrumentTab::Signals));
    const SignalsWidgets &s = bench.w().signalTab;
    const struct {
        QLineEdit *edit;
        QString fallback;
        QString message;
    } intervals[] = {{s.Edit_DeltaBumpDay, QStringLiteral("14"), QStringLiteral("Error! from 2 to 365 allowed!")},
                     {s.Edit_DeltaCalDay, QStringLiteral("60"), QStringLiteral("Error! from 5 to 730 allowed!")}};
    for (const auto &interval : intervals) {
        // What is no whole number becomes the default as the focus leaves, without a message.
        for (const QString &value : kNoNumber + QStringList{QStringLiteral("1,5")}) {
            const QStringList said = bench.said();
            EXPECT_TRUE(bench.TypeAndLeave(interval.edit, value).empty());
            EXPECT_EQ(interval.edit->text(), interval.fallback) << value.toStdString();
            EXPECT_EQ(bench.said(), said);
        }
        // Out of range: the message, then the instrument's values again (a read, no write).
        for (const QString &value : {QStringLiteral("-1"), QStringLiteral("99999")}) {
            EXPECT_EQ(FrameNames(bench.TypeAndLeave(interval.edit, value)), Names{"R31"});
            ASSERT_FALSE(bench.dialogs.messages.isEmpty());
            EXPECT_EQ(bench.dialogs.messages.last(), interval.message);
        }
    }
}

TEST(WindowBadInput, CustomerIdsOfCharactersBeyondOneByteAreRefusedNamingTheWholeCharacter)
{
    Bench bench(kEnglish);
    ASSERT_TRUE(bench.Connect());
    const GeneralWidgets &g = bench.w().general;
    const Field id{"Customer ID", InstrumentTab::General, g.Edit_CostId, g.ButtonCostID};
    ExpectRefused(bench, id,
                  {QStringLiteral("\u20AC"), QStringLiteral("AB\u0663"), QStringLiteral("\uFF15"),
                   QStringLiteral("\U0001F600")});
    EXPECT_TRUE(bench.dialogs.errors.last().contains(QStringLiteral("\"\U0001F600\" (U+1f600)")))
        << bench.dialogs.errors.last().toStdString();
    // No more than nine characters can be typed.
    Bench::Type(bench.w().general.Edit_CostId, QString(5000, u'A'));
    EXPECT_EQ(bench.w().general.Edit_CostId->text(), QString(9, u'A'));
}

TEST(WindowBadInput, TheSetupDialogRefusesWhatItCannotSendInsideItself)
{
    Bench bench(kGerman, {QStringLiteral("R310Conf"), QStringLiteral("/pr"), QStringLiteral("--port"),
                          QStringLiteral("sim")});
    ASSERT_TRUE(bench.Connect());
    TForm1 &form = bench.window().findChild<IdentityTab *>()->SetupDialog();
    QLabel *refusal = form.findChild<QLabel *>(QStringLiteral("Refusal"));
    ASSERT_NE(refusal, nullptr);
    const std::size_t heard = bench.line->size();
    const struct {
        QString serial;
        QString customerId;
    } entries[] = {
        {QStringLiteral("abc"), QString()},        {QString(), QString()},
        {QStringLiteral("0"), QString()},          {QStringLiteral("1e308"), QString()},
        {QStringLiteral("-1"), QString()},         {QStringLiteral("1,5"), QString()},
        {QStringLiteral("\uFF15"), QString()},     {QStringLiteral("\u0663"), QString()},
        {QStringLiteral("5"), QStringLiteral("\u20AC")}, {QStringLiteral("5"), QStringLiteral("\U0001F600")},
        {QStringLiteral("5"), QStringLiteral("A;B")},    {QStringLiteral("5"), QStringLiteral("\u00C4")},
    };
    for (const auto &entry : entries) {
        bench.Click(bench.w().control.Button4);
        ASSERT_TRUE(form.isVisible());
        // Pasted, past the key filters.
        form.Edit1->setText(entry.serial);
        form.Edit2->setText(entry.customerId);
        QTest::mouseClick(form.Button1, Qt::LeftButton);
        EXPECT_TRUE(form.isVisible()) << entry.serial.toStdString() << " " << entry.customerId.toStdString();
        EXPECT_TRUE(refusal->isVisible());
        EXPECT_FALSE(refusal->text().isEmpty());
        EXPECT_FALSE(refusal->text().contains(QChar::ReplacementCharacter)) << refusal->text().toStdString();
        form.reject();
    }
    // A pasted text longer than a field holds is cut to it, in sight of the user.
    bench.Click(bench.w().control.Button4);
    form.Edit1->setText(QStringLiteral("99999999999999999999"));
    form.Edit2->setText(QString(20, u'A'));
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("99999999"));
    EXPECT_EQ(form.Edit2->text(), QString(9, u'A'));
    form.reject();

    EXPECT_TRUE(bench.Idle());
    EXPECT_TRUE(bench.line->since(heard).empty());
    EXPECT_TRUE(bench.dialogs.errors.isEmpty());
}
