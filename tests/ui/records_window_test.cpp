// The service records in the window, offscreen, against the simulated
// instrument: a connection and its settings on record, the records window's
// list, filter and history, a download saved again, and a records file that
// cannot be written said once and kept in the status bar.
#include "UiRig.h"

#include <RecordStore.h>
#include <RecordsCommands.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

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

int main(int argc, char **argv) { return RunWidgetTests(argc, argv); }
