// The service records in the window, offscreen, against the simulated
// instrument: a connection and its settings on record, the records window's
// list, filter and history, a download saved again, and a records file that
// cannot be written said once and kept in the status bar.
#include "UiRig.h"

#include <LogChart.h>
#include <LogViewer.h>
#include <RecordStore.h>
#include <RecordsCommands.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QJsonArray>

#include <map>

#include <gtest/gtest.h>

namespace {

using namespace r310;
using namespace uitest;

RigOptions WithRecords(const QString &path)
{
    RigOptions options;
    options.records = records::ParseRecordsUrl(QStringLiteral("sqlite:") + path);
    return options;
}

} // namespace

TEST(RecordsWindow, ListsTheConnectedInstrumentWithItsHistory)
{
    QTemporaryDir folder;
    WindowRig rig(WithRecords(folder.filePath(QStringLiteral("records.sqlite"))));
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Range));
    auto *button = rig.window().findChild<QPushButton *>(QStringLiteral("ButtonRecords"));
    ASSERT_TRUE(button);
    button->click();
    auto *list = rig.window().findChild<QTableWidget *>(QStringLiteral("RecordsInstruments"));
    auto *history = rig.window().findChild<QTableWidget *>(QStringLiteral("RecordsHistory"));
    ASSERT_TRUE(list && history);
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->item(0, 0)->text(), QStringLiteral("00001234"));
    list->selectRow(0);
    QStringList kinds;
    for (int r = 0; r < history->rowCount(); ++r)
        kinds.append(history->item(r, 1)->text());
    EXPECT_EQ(kinds, QStringList({QStringLiteral("connection"), QStringLiteral("settings")}));

    auto *filter = rig.window().findChild<QLineEdit *>(QStringLiteral("RecordsFilter"));
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
    auto *status = rig.window().findChild<QLabel *>(QStringLiteral("RecordsStatus"));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->text(), QStringLiteral("not recorded"));
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
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Range));
    QLineEdit *a1 = rig.w().range.alarms[0].edit;
    const double old = a1->text().toDouble();
    a1->setFocus();
    a1->selectAll();
    QTest::keyClick(a1, Qt::Key_Backspace);
    QTest::keyClicks(a1, QString::number(old + 1));
    rig.w().range.ButtonSetGW->click();
    ASSERT_TRUE(rig.Idle());

    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Calibration));
    const ui::CalibrationWidgets &cal = rig.w().calibration;
    cal.Button7->click();
    ASSERT_TRUE(SpinUntil([&] { return cal.Edit6->text() == QStringLiteral("OK"); }, 5s));
    ASSERT_TRUE(SpinUntil([&] { return cal.Button6->isEnabled(); }, 5s));
    cal.Button6->click();
    ASSERT_TRUE(rig.Idle());
    rig.window().ClosePort();

    QString error;
    const auto store = records::RecordStore::Open(records::ParseRecordsUrl(path).target, &error);
    ASSERT_TRUE(store) << error.toStdString();
    std::map<QString, std::vector<QJsonObject>> byKind;
    for (const records::StoredRecord &record : store->History(QStringLiteral("00001234"), {}))
        byKind[record.kind].push_back(record.body);
    ASSERT_EQ(byKind[records::kind::kWrite].size(), 1u);
    const QJsonObject &write = byKind[records::kind::kWrite][0];
    EXPECT_EQ(write[QStringLiteral("outcome")].toString(), QStringLiteral("read back equal"));
    const QJsonObject change = write[QStringLiteral("changes")][0].toObject();
    EXPECT_EQ(change[QStringLiteral("key")].toString(), QStringLiteral("a1"));
    EXPECT_EQ(change[QStringLiteral("old")].toString().toDouble(), old);
    EXPECT_EQ(change[QStringLiteral("new")].toString().toDouble(), old + 1);
    EXPECT_EQ(change[QStringLiteral("readBack")].toString().toDouble(), old + 1);
    ASSERT_EQ(byKind[records::kind::kCalibration].size(), 1u);
    const QJsonObject &calibration = byKind[records::kind::kCalibration][0];
    EXPECT_EQ(calibration[QStringLiteral("calibration")].toString(), QStringLiteral("zero"));
    EXPECT_EQ(calibration[QStringLiteral("outcome")].toString(), QStringLiteral("OK"));
    EXPECT_TRUE(calibration[QStringLiteral("asFound")].isDouble());
    EXPECT_TRUE(calibration[QStringLiteral("asLeft")].isDouble());
    ASSERT_EQ(byKind[records::kind::kHornCheck].size(), 1u);
    EXPECT_EQ(byKind[records::kind::kHornCheck][0][QStringLiteral("outcome")].toString(),
              QStringLiteral("horn switched on and off"));

    // A stored data logger download shown from the records window.
    logs::LoggerBlock block;
    block.header = {logs::kValidState, 400000000, 30, 15, 1};
    logs::LoggerSampleSet set;
    set.state = logs::kValidState;
    set.gasCode = 1;
    set.unitCode = 1;
    block.sets.push_back(set);
    ASSERT_TRUE(store->AppendLogger(QStringLiteral("00001234"), {}, {block}).ok);
    rig.window().findChild<QPushButton *>(QStringLiteral("ButtonRecords"))->click();
    auto *list = rig.window().findChild<QTableWidget *>(QStringLiteral("RecordsInstruments"));
    auto *history = rig.window().findChild<QTableWidget *>(QStringLiteral("RecordsHistory"));
    ASSERT_TRUE(list && history);
    list->selectRow(0);
    history->selectRow(history->rowCount() - 1);
    ASSERT_EQ(history->item(history->rowCount() - 1, 1)->text(), records::kind::kDatalog);
    rig.window().findChild<QPushButton *>(QStringLiteral("RecordsShowLog"))->click();
    auto *viewer = rig.window().findChild<ui::LogViewer *>();
    ASSERT_TRUE(viewer);
    EXPECT_TRUE(viewer->chart().HasData());
    EXPECT_TRUE(viewer->message().isEmpty()) << viewer->message().toStdString();
    EXPECT_TRUE(rig.dialogs.errors.isEmpty()) << rig.dialogs.errors.join(u'\n').toStdString();
}

int main(int argc, char **argv) { return RunWidgetTests(argc, argv); }
