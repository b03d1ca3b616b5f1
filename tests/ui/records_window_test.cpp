// The service records in the window: a connection and its settings on record,
// the records window's list, filter and history, a records file that cannot be
// written, the test gas cylinders, a certificate and the fleet report as text.
#include "UiRig.h"

#include <Certificate.h>
#include <Cylinders.h>
#include <GasTable.h>
#include <LogChart.h>
#include <LogViewer.h>
#include <RecordStore.h>
#include <RecordsCommands.h>

#include <QDateEdit>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QTableWidget>

#include <map>
#include <tuple>

namespace {

using namespace r310;
using namespace uitest;

RigOptions WithRecords(const QString &path)
{
    RigOptions options;
    options.records = records::ParseRecordsUrl(QStringLiteral("sqlite:") + path);
    return options;
}

// The PDF's text as pdftotext reads it.
QString PdfText(const QString &path)
{
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!pdftotext.waitForFinished(30000) || pdftotext.exitCode() != 0)
        return QStringLiteral("<pdftotext failed on %1>").arg(path);
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

template <typename T>
T *Find(QWidget &parent, const char *name)
{
    T *widget = parent.findChild<T *>(QString::fromLatin1(name));
    EXPECT_TRUE(widget) << name;
    return widget;
}

} // namespace

TEST(RecordsWindow, ListsTheConnectedInstrumentWithItsHistory)
{
    QTemporaryDir folder;
    WindowRig rig(WithRecords(folder.filePath(QStringLiteral("records.sqlite"))));
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Range));
    Find<QPushButton>(rig.window(), "ButtonRecords")->click();
    auto *list = Find<QTableWidget>(rig.window(), "RecordsInstruments");
    auto *history = Find<QTableWidget>(rig.window(), "RecordsHistory");
    ASSERT_TRUE(list && history);
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->item(0, 0)->text(), QStringLiteral("00001234"));
    list->selectRow(0);
    QStringList kinds;
    for (int r = 0; r < history->rowCount(); ++r)
        kinds.append(history->item(r, 1)->text());
    EXPECT_EQ(kinds, QStringList({QStringLiteral("connection"), QStringLiteral("settings")}));

    auto *filter = Find<QLineEdit>(rig.window(), "RecordsFilter");
    filter->setText(QStringLiteral("no such instrument"));
    EXPECT_TRUE(list->isRowHidden(0));
    filter->setText(QStringLiteral("1234"));
    EXPECT_FALSE(list->isRowHidden(0));
    EXPECT_TRUE(rig.dialogs.errors.isEmpty()) << rig.dialogs.errors.join(u'\n').toStdString();
}

TEST(RecordsWindow, ARecordsFileThatCannotBeWrittenIsSaidOnceAndStaysInTheStatusBar)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("records.sqlite"));
    {
        QString error;
        ASSERT_TRUE(records::RecordStore::Open(records::ParseRecordsUrl(path).target, &error));
    }
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    WindowRig rig(WithRecords(path));
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Range));
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Signals));
    auto *status = Find<QLabel>(rig.window(), "RecordsStatus");
    ASSERT_TRUE(status);
    // The records are written on their own thread: what it could not write waits in the spool.
    EXPECT_TRUE(SpinUntil([&] { return status->text().startsWith(QLatin1String("not recorded")); }, 5s));
    ASSERT_EQ(rig.dialogs.errors.size(), 1) << rig.dialogs.errors.join(u'\n').toStdString();
    EXPECT_TRUE(rig.dialogs.errors[0].contains(QLatin1String("could not be recorded")));
    // The instrument work went on.
    EXPECT_TRUE(rig.window().connection()->record().InstrumentConnected);
}

TEST(RecordsWindow, TheWindowsWritesCalibrationsAndHornChecksAreOnRecordAsR310ctlKeepsThem)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("records.sqlite"));
    RigOptions options = WithRecords(path);
    options.scenario.calibrationReads = 4;
    WindowRig rig(options);
    rig.dialogs.questionAnswer = true; // the calibration's guided step
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Range));
    QLineEdit *a1 = rig.w().range.alarms[0].edit;
    const double old = a1->text().toDouble();
    Type(a1, QString::number(old + 1));
    rig.w().range.ButtonSetGW->click();
    ASSERT_TRUE(rig.Idle());

    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Calibration));
    const ui::CalibrationWidgets &cal = rig.w().calibration;
    cal.Button7->click();
    ASSERT_TRUE(SpinUntil([&] { return cal.Edit6->text() == QStringLiteral("OK"); }, 5s));
    // Judged once as left was read: then the certificate is offered.
    ASSERT_TRUE(SpinUntil([&] { return rig.dialogs.questions.join(u' ').contains(QLatin1String("Save a")); }, 10s));
    ASSERT_TRUE(SpinUntil([&] { return cal.Button6->isEnabled(); }, 5s));
    cal.Button6->click();
    ASSERT_TRUE(rig.Idle());
    rig.window().ClosePort();

    QString error;
    const auto store = records::RecordStore::Open(records::ParseRecordsUrl(path).target, &error);
    ASSERT_TRUE(store) << error.toStdString();
    std::map<QString, std::vector<QJsonObject>> byKind;
    // Written on the records' own thread, soon after.
    ASSERT_TRUE(SpinUntil(
        [&] {
            byKind.clear();
            for (const records::StoredRecord &record : store->History(QStringLiteral("00001234"), {}))
                byKind[record.kind].push_back(record.body);
            return byKind[records::kind::kHornCheck].size() == 1u;
        },
        5s));
    ASSERT_EQ(byKind[records::kind::kWrite].size(), 1u);
    ASSERT_EQ(byKind[records::kind::kCalibration].size(), 1u);
    ASSERT_EQ(byKind[records::kind::kHornCheck].size(), 1u);
    const QJsonObject &write = byKind[records::kind::kWrite][0];
    const QJsonObject change = write[QStringLiteral("changes")][0].toObject();
    const QJsonObject &calibration = byKind[records::kind::kCalibration][0];
    const std::tuple<const QJsonObject &, const char *, const char *> texts[] = {
        {write, "outcome", "read back equal"},
        {change, "key", "a1"},
        {calibration, "calibration", "zero"},
        {calibration, "outcome", "passed"},
        {calibration, "instrumentReport", "OK"},
        {byKind[records::kind::kHornCheck][0], "outcome", "horn switched on and off"},
    };
    for (const auto &[body, key, text] : texts)
        EXPECT_EQ(body[QLatin1String(key)].toString(), QLatin1String(text)) << key;
    for (const auto &[key, value] : {std::pair{"old", old}, std::pair{"new", old + 1}, std::pair{"readBack", old + 1}})
        EXPECT_EQ(change[QLatin1String(key)].toString().toDouble(), value) << key;
    EXPECT_TRUE(calibration[QStringLiteral("asFound")].isDouble() && calibration[QStringLiteral("asLeft")].isDouble());

    // A stored data logger download shown from the records window.
    logs::LoggerBlock block;
    block.header = {logs::kValidState, 400000000, 30, 15, 1};
    logs::LoggerSampleSet set;
    set.state = logs::kValidState;
    set.gasCode = 1;
    set.unitCode = 1;
    block.sets.push_back(set);
    ASSERT_TRUE(store->AppendLogger(QStringLiteral("00001234"), {}, {block}).ok);
    Find<QPushButton>(rig.window(), "ButtonRecords")->click();
    auto *list = Find<QTableWidget>(rig.window(), "RecordsInstruments");
    auto *history = Find<QTableWidget>(rig.window(), "RecordsHistory");
    ASSERT_TRUE(list && history);
    list->selectRow(0);
    history->selectRow(history->rowCount() - 1);
    ASSERT_EQ(history->item(history->rowCount() - 1, 1)->text(), records::kind::kDatalog);
    Find<QPushButton>(rig.window(), "RecordsShowLog")->click();
    auto *viewer = rig.window().findChild<ui::LogViewer *>();
    ASSERT_TRUE(viewer);
    EXPECT_TRUE(viewer->chart().HasData());
    EXPECT_TRUE(viewer->message().isEmpty()) << viewer->message().toStdString();
    EXPECT_TRUE(rig.dialogs.errors.isEmpty()) << rig.dialogs.errors.join(u'\n').toStdString();
}

TEST(Certificates, ACylinderCalibrationIsRecordedAndCertifiedAndTheFleetReported)
{
    QTemporaryDir folder;
    const std::unique_ptr<GasTable> gasTable = BuildGasTable();
    ASSERT_TRUE(gasTable) << "KALTEX32 of this build is missing";
    const QString recordsFile = folder.filePath(QStringLiteral("records.sqlite"));
    RigOptions options = WithRecords(recordsFile);
    options.gasTable = gasTable.get();
    options.scenario.exponent = -1;
    options.scenario.calibrationReads = 3;
    WindowRig rig(std::move(options));
    rig.dialogs.questionAnswer = true; // the calibration's guided step
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Calibration));
    ui::TFo_R310 &window = rig.window();
    const ui::CalibrationWidgets &cal = rig.w().calibration;

    // A cylinder that expired after it was registered.
    {
        QString error;
        const auto store = records::RecordStore::Open(records::ParseRecordsUrl(recordsFile).target, &error);
        ASSERT_TRUE(store) << error.toStdString();
        records::Cylinder expired;
        expired.lot = QStringLiteral("L2");
        expired.gasCode = 1;
        expired.gas = QStringLiteral("CO");
        expired.unit = QStringLiteral("ppm");
        expired.concentration = 50;
        expired.expires = QDate::currentDate().addDays(-1);
        ASSERT_TRUE(records::CylinderRegister(*store).Add(expired, &error)) << error.toStdString();
    }
    // The register: what r310ctl refuses is refused here too, with its reason.
    Find<QPushButton>(window, "ButtonCylinders")->click();
    auto *dialog = Find<QDialog>(window, "CylindersDialog");
    ASSERT_TRUE(dialog);
    auto *gas = Find<QComboBox>(*dialog, "CylinderGas");
    const QDate today = QDate::currentDate();
    const struct {
        const char *lot, *gas, *concentration;
        QDate expires;
        const char *refusal; // empty: added
    } entries[] = {
        {"", "CO", "50", today.addYears(1), "needs its lot"},
        {"L9", "XYZ", "50", today.addYears(1), "no such gas"},
        {"L9", "CO", "0", today.addYears(1), "above 0"},
        {"L1", "CO", "50", today.addYears(1), ""},
        {"L1", "CO", "60", today.addYears(1), "already in the register"},
        {"L6", "CO", "50", today.addDays(-1), "expired on"},
        {"L3", "H2S", "25", today.addYears(1), ""}, // another gas
        {"L4", "1", "40", today.addYears(1), ""},   // gas by its code, retired below
        {"L5", "CO", "45", today.addYears(1), ""},  // retired elsewhere once chosen
    };
    for (const auto &e : entries) {
        Find<QLineEdit>(*dialog, "CylinderLot")->setText(QString::fromLatin1(e.lot));
        gas->setEditText(QString::fromLatin1(e.gas));
        Find<QComboBox>(*dialog, "CylinderUnit")->setEditText(QStringLiteral("ppm"));
        Find<QLineEdit>(*dialog, "CylinderConcentration")->setText(QString::fromLatin1(e.concentration));
        Find<QDateEdit>(*dialog, "CylinderExpires")->setDate(e.expires);
        Find<QLineEdit>(*dialog, "CylinderBalance")->setText(QStringLiteral("synthetic air"));
        rig.dialogs.errors.clear();
        Find<QPushButton>(*dialog, "CylinderAdd")->click();
        const QString refusal = QString::fromLatin1(e.refusal);
        EXPECT_TRUE(rig.dialogs.errors.join(u'\n').contains(refusal)) << e.lot << ": " << e.refusal;
        EXPECT_EQ(rig.dialogs.errors.isEmpty(), refusal.isEmpty())
            << e.lot << rig.dialogs.errors.join(u'\n').toStdString();
    }
    auto *table = Find<QTableWidget>(*dialog, "CylindersTable");
    ASSERT_EQ(table->rowCount(), 5);
    table->selectRow(3);
    ASSERT_EQ(table->item(3, 0)->text(), QStringLiteral("L4"));
    rig.dialogs.questionAnswer = true;
    Find<QPushButton>(*dialog, "CylinderRetire")->click();
    EXPECT_EQ(table->item(3, 6)->text(), QStringLiteral("retired"));
    EXPECT_EQ(table->item(1, 6)->text(), QStringLiteral("expired"));
    dialog->close();

    // Beside "Start Cal": what may be used today; once the instrument's gas
    // and unit are read, only what this instrument may use.
    auto *choice = Find<QComboBox>(window, "CylinderChoice");
    const auto offered = [choice] {
        QStringList lots;
        for (int i = 1; i < choice->count(); ++i)
            lots.append(choice->itemData(i).toString());
        return lots.join(u' ');
    };
    EXPECT_EQ(offered(), QStringLiteral("L1 L3 L5"));
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Range));
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Calibration));
    EXPECT_EQ(offered(), QStringLiteral("L1 L5"));

    // A cylinder retired at another workstation after it was chosen: refused, nothing sent.
    choice->setCurrentIndex(2);
    emit choice->activated(2);
    EXPECT_EQ(cal.Edit5->text(), QStringLiteral("45"));
    {
        QString error;
        const auto store = records::RecordStore::Open(records::ParseRecordsUrl(recordsFile).target, &error);
        ASSERT_TRUE(store && records::CylinderRegister(*store).Retire(QStringLiteral("L5"), &error));
    }
    rig.dialogs.errors.clear();
    EXPECT_FALSE(First(rig.During([&] { cal.Button5->click(); }), "W9"));
    EXPECT_TRUE(rig.dialogs.errors.join(u'\n').contains(QLatin1String("retired")))
        << rig.dialogs.errors.join(u'\n').toStdString();
    rig.dialogs.errors.clear();

    // With L1: the certified concentration goes out, the record names the
    // cylinder, and the certificate is offered once the instrument reports OK.
    choice->setCurrentIndex(choice->findData(QStringLiteral("L1")));
    emit choice->activated(choice->currentIndex());
    EXPECT_EQ(cal.Edit5->text(), QStringLiteral("50"));
    records::SetTechnicianName(QStringLiteral("Jana Novakova"));
    rig.dialogs.questions.clear();
    rig.dialogs.saveAnswer = folder.filePath(QStringLiteral("after.pdf"));
    const std::size_t before = rig.line->size();
    cal.Button5->click();
    ASSERT_TRUE(SpinUntil([&] { return rig.dialogs.questions.size() >= 2; }, 15s)) << "no certificate offered";
    EXPECT_TRUE(rig.dialogs.questions[0].contains(QLatin1String("Apply the test gas (lot L1, 50 ppm)")));
    EXPECT_TRUE(rig.dialogs.questions[1].contains(QLatin1String("Save a calibration certificate?")));
    EXPECT_TRUE(First(rig.line->since(before), "W9"));
    const QString certificate = PdfText(rig.dialogs.saveAnswer);
    for (const char *text : {"00001234", "L1", "synthetic air", "passed", "Jana Novakova", "span"})
        EXPECT_TRUE(certificate.contains(QLatin1String(text))) << text << "\n" << certificate.toStdString();
    EXPECT_TRUE(certificate.contains(today.addYears(1).toString(Qt::ISODate))) << certificate.toStdString();

    // The records window: the same certificate from the history, the
    // technician's name set there, and the fleet report.
    Find<QPushButton>(window, "ButtonRecords")->click();
    auto *records = Find<QDialog>(window, "RecordsWindow");
    ASSERT_TRUE(records);
    auto *instruments = Find<QTableWidget>(*records, "RecordsInstruments");
    auto *history = Find<QTableWidget>(*records, "RecordsHistory");
    auto *certify = Find<QPushButton>(*records, "RecordsCertificate");
    instruments->selectRow(0);
    EXPECT_FALSE(certify->isEnabled());
    int calibrationRow = -1;
    for (int r = 0; r < history->rowCount(); ++r) {
        if (history->item(r, 1)->text() == records::kind::kCalibration)
            calibrationRow = r;
    }
    ASSERT_GE(calibrationRow, 0);
    history->selectRow(calibrationRow);
    EXPECT_TRUE(certify->isEnabled());
    auto *technician = Find<QLineEdit>(*records, "RecordsTechnician");
    EXPECT_EQ(technician->text(), QStringLiteral("Jana Novakova"));
    technician->setText(QStringLiteral("Petr Svoboda"));
    emit technician->editingFinished();
    EXPECT_EQ(records::TechnicianName(QString()), QStringLiteral("Petr Svoboda"));
    rig.dialogs.saveAnswer = folder.filePath(QStringLiteral("history.pdf"));
    certify->click();
    // The certificate names the technician of the calibration; the new name is for the next ones.
    const QString again = PdfText(rig.dialogs.saveAnswer);
    EXPECT_TRUE(again.contains(QLatin1String("Jana Novakova"))) << again.toStdString();
    const QRegularExpression number(QStringLiteral("R310-00001234-\\d+-[0-9A-F]{8}"));
    EXPECT_TRUE(certificate.contains(number));
    EXPECT_EQ(number.match(again).captured(), number.match(certificate).captured())
        << "the same record keeps its certificate number";

    rig.dialogs.saveAnswer = folder.filePath(QStringLiteral("fleet.pdf"));
    Find<QPushButton>(*records, "RecordsFleetReport")->click();
    const QString fleet = PdfText(rig.dialogs.saveAnswer);
    EXPECT_TRUE(fleet.contains(QLatin1String("00001234")) && fleet.contains(QLatin1String("span passed")))
        << fleet.toStdString();
    EXPECT_TRUE(rig.dialogs.errors.isEmpty()) << rig.dialogs.errors.join(u'\n').toStdString();
}
