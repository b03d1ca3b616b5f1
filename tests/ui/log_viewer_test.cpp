// The log viewer on export files: the chart, the exposure and event tables,
// zoom and pan with the lines held to a few points per pixel, a damaged file's
// message, and the export of what is shown.
#include "UiRig.h"

#include <ChartExport.h>
#include <ChartTicks.h>
#include <DataLoggerExport.h>
#include <ExportFile.h>
#include <LogChart.h>
#include <LogChartView.h>
#include <LogViewer.h>
#include <ShiftLog.h>

#include <QLegendMarker>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTableWidget>

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;

const QLocale kGerman(QLocale::German, QLocale::Germany);

QStringList SeriesNames(const LogChart &chart)
{
    QStringList names;
    for (const QAbstractSeries *series : chart.series())
        names.append(series->name());
    return names;
}

class LogViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        logger_ = dir_.filePath(QStringLiteral("Logger.csv"));
        events_ = dir_.filePath(QStringLiteral("Evt.csv"));
        ASSERT_TRUE(logs::WriteLoggerExport(logger_, r310test::ShiftLogger(120, 2, kGerman)).ok);
        ASSERT_TRUE(logs::WriteExportFile(events_, r310test::ShiftEventLines(120, kGerman)).ok);
        viewer_ = std::make_unique<LogViewer>(QLocale(QLocale::English, QLocale::UnitedKingdom));
        viewer_->setAttribute(Qt::WA_DeleteOnClose, false);
        viewer_->resize(1000, 700);
        viewer_->show();
    }
    template <typename T>
    T &Find(const char *name) const
    {
        T *found = viewer_->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            throw std::runtime_error(name);
        return *found;
    }
    QString EventCell(int row, int column) const
    {
        const QAbstractItemModel &model = *Find<QTableView>("eventTable").model();
        return model.data(model.index(row, column)).toString();
    }

    QTemporaryDir dir_;
    QString logger_, events_;
    std::unique_ptr<LogViewer> viewer_;
};

TEST_F(LogViewerTest, ShowsSeriesExposureAndEventsOfBothFiles)
{
    ASSERT_TRUE(viewer_->OpenFile(logger_));
    ASSERT_TRUE(viewer_->OpenFile(events_));
    EXPECT_TRUE(viewer_->message().isEmpty()) << viewer_->message().toStdString();
    EXPECT_TRUE(viewer_->windowTitle().contains(QStringLiteral("Logger.csv, Evt.csv")));
    LogChart &chart = viewer_->chart();
    ASSERT_TRUE(chart.HasData());
    const QStringList names = SeriesNames(chart);
    // Two sections a gas: a line each, named once in the legend.
    const QStringList drawn = chart.DrawnNames();
    EXPECT_EQ(drawn.count(QStringLiteral("ppm CO")), 2);
    EXPECT_EQ(drawn.count(QStringLiteral("ppm H2S")), 2);
    EXPECT_TRUE(drawn.contains(QStringLiteral("ppm CO in alarm (instrument's flag)")));
    QStringList legend;
    for (const QLegendMarker *marker : chart.legend()->markers())
        legend.append(marker->label());
    EXPECT_EQ(legend.count(QStringLiteral("ppm CO")), 1) << legend.join(u'|').toStdString();
    EXPECT_TRUE(legend.contains(QStringLiteral("ppm CO in alarm (instrument's flag)"))) << legend.join(u'|').toStdString();

    // Exposure: a row per gas and section.
    const QTableWidget &exposure = Find<QTableWidget>("exposureTable");
    ASSERT_EQ(exposure.rowCount(), 4);
    // No levels known from a file: column 10 empty.
    const std::tuple<int, int, const char *> cells[] = {
        {0, 0, "ppm CO"}, {1, 1, "2"}, {0, 2, "02/03/2026 06:00:00"}, {0, 5, "60"}, {0, 10, ""}};
    for (const auto &[row, column, text] : cells)
        EXPECT_EQ(exposure.item(row, column)->text(), QLatin1String(text)) << row << "," << column;

    // Levels typed into the viewer: drawn, and counted in the exposure table.
    QLineEdit &levels = Find<QLineEdit>("viewerLevels");
    levels.setText(QStringLiteral("30,60,100,50"));
    emit levels.editingFinished();
    EXPECT_TRUE(viewer_->message().isEmpty());
    EXPECT_TRUE(exposure.item(0, 10)->text().contains(u':')) << exposure.item(0, 10)->text().toStdString();
    EXPECT_NE(exposure.item(0, 10)->text(), QStringLiteral("0:00:00"));
    EXPECT_EQ(exposure.item(0, 12)->text(), QStringLiteral("0:00:00"));
    const QStringList withLevels = SeriesNames(chart);
    EXPECT_TRUE(withLevels.contains(QStringLiteral("A1 30")) && withLevels.contains(QStringLiteral("STEL 50")))
        << withLevels.join(u'|').toStdString();
    levels.setText(QStringLiteral("thirty"));
    emit levels.editingFinished();
    EXPECT_TRUE(viewer_->message().startsWith(QStringLiteral("Alarm levels"))) << viewer_->message().toStdString();

    // Events: sortable, filtered by type, alarms coloured, marked on the chart.
    QTableView &table = Find<QTableView>("eventTable");
    const int all = table.model()->rowCount();
    ASSERT_EQ(all, static_cast<int>(r310test::ShiftEventLines(120, kGerman).size()) - 1);
    EXPECT_EQ(EventCell(0, 2), QStringLiteral("Dev-ON"));
    table.sortByColumn(1, Qt::DescendingOrder);
    EXPECT_EQ(EventCell(0, 2), QStringLiteral("Dev-OFF"));
    table.sortByColumn(0, Qt::AscendingOrder);
    Find<QComboBox>("eventTypeFilter").setCurrentText(QStringLiteral("A1 ON"));
    ASSERT_GT(table.model()->rowCount(), 0);
    ASSERT_LT(table.model()->rowCount(), all);
    for (int row = 0; row < table.model()->rowCount(); ++row)
        EXPECT_EQ(EventCell(row, 2), QStringLiteral("A1 ON"));
    const QModelIndex alarm = table.model()->index(0, 3);
    EXPECT_EQ(table.model()->data(alarm, Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 190, 190));
    EXPECT_TRUE(names.contains(QStringLiteral("Alarm events")));
    int marks = 0;
    for (QAbstractSeries *series : chart.series()) {
        if (series->name().endsWith(QStringLiteral("events")))
            marks += static_cast<int>(static_cast<QScatterSeries *>(series)->count());
    }
    // At most one mark a pixel column and kind.
    EXPECT_GT(marks, 2);
    EXPECT_LE(marks, all);
}

TEST_F(LogViewerTest, ZoomPanAndReadoutFromMouseAndKeyboard)
{
    ASSERT_TRUE(viewer_->OpenFile(logger_));
    QApplication::processEvents();
    LogChart &chart = viewer_->chart();
    LogChartView &view = viewer_->chartView();
    const std::int64_t whole = chart.ShownTo() - chart.ShownFrom();
    EXPECT_EQ(chart.ShownFrom(), chart.WholeFrom());
    // Few points a pixel column, whatever the zoom.
    const int columns = static_cast<int>(chart.plotArea().width());
    ASSERT_GT(columns, 100);
    EXPECT_LE(chart.PointCount(), 4 * 2 * columns + 200);

    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Plus);
    EXPECT_NEAR(static_cast<double>(chart.ShownTo() - chart.ShownFrom()), whole / 2.0, 2);
    const std::int64_t from = chart.ShownFrom();
    QTest::keyClick(&view, Qt::Key_Right);
    EXPECT_GT(chart.ShownFrom(), from);
    QTest::keyClick(&view, Qt::Key_Minus);
    QTest::keyClick(&view, Qt::Key_Home);
    EXPECT_EQ(chart.ShownFrom(), chart.WholeFrom());
    EXPECT_EQ(chart.ShownTo(), chart.WholeTo());

    // The wheel zooms around the pointer: the time under it stays put.
    const QPoint centre = view.mapFromScene(chart.mapToScene(chart.plotArea().center()));
    const std::int64_t under = chart.TimeAt(chart.plotArea().center());
    QWheelEvent wheel(centre, view.mapToGlobal(centre), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &wheel);
    EXPECT_LT(chart.ShownTo() - chart.ShownFrom(), whole);
    EXPECT_NEAR(static_cast<double>(chart.TimeAt(chart.plotArea().center())), static_cast<double>(under),
                whole / 100.0);

    // A dragged rectangle zooms to it.
    QTest::keyClick(&view, Qt::Key_Home);
    const QRectF area = chart.plotArea();
    const QPoint start = view.mapFromScene(chart.mapToScene(area.topLeft() + QPointF(area.width() * 0.4, 5)));
    const QPoint end = view.mapFromScene(chart.mapToScene(area.bottomLeft() + QPointF(area.width() * 0.5, -5)));
    QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::NoModifier, start);
    QTest::mouseMove(view.viewport(), end);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, Qt::NoModifier, end);
    EXPECT_NEAR(static_cast<double>(chart.ShownTo() - chart.ShownFrom()), whole * 0.1, whole * 0.02);

    // The readout names time, each series' value and the alarm.
    QLabel &readout = Find<QLabel>("viewerReadout");
    QTest::mouseMove(view.viewport(), centre);
    EXPECT_TRUE(readout.text().contains(QStringLiteral("ppm CO: "))) << readout.text().toStdString();
    EXPECT_TRUE(readout.text().contains(QStringLiteral("/03/2026"))) << readout.text().toStdString();
}

TEST_F(LogViewerTest, DamagedFileNamesItsFirstBadLineAndShowsTheRest)
{
    QStringList lines = logs::LoggerExportLines(r310test::ShiftLogger(4, 1, kGerman));
    lines[7] = QStringLiteral("kaputt");
    const QString damaged = dir_.filePath(QStringLiteral("damaged.csv"));
    ASSERT_TRUE(logs::WriteExportFile(damaged, lines).ok);
    EXPECT_TRUE(viewer_->OpenFile(damaged));
    EXPECT_TRUE(viewer_->message().contains(QStringLiteral("line 8"))) << viewer_->message().toStdString();
    EXPECT_TRUE(Find<QLabel>("viewerMessage").isVisible());
    // The first section (blocks 0 to 2) less the damaged line.
    EXPECT_EQ(Find<QTableWidget>("exposureTable").item(0, 4)->text(), QStringLiteral("44"));

    const QString other = dir_.filePath(QStringLiteral("other.txt"));
    ASSERT_TRUE(logs::WriteExportFile(other, {QStringLiteral("hello")}).ok);
    EXPECT_FALSE(viewer_->OpenFile(other));
    EXPECT_TRUE(viewer_->message().contains(QStringLiteral("line 1"))) << viewer_->message().toStdString();
    EXPECT_TRUE(viewer_->chart().HasData()); // what was shown stays
}

TEST_F(LogViewerTest, ExportsWhatIsShown)
{
    ASSERT_TRUE(viewer_->OpenFile(logger_));
    viewer_->chart().ZoomTime(0.25);
    for (const char *name : {"shown.png", "shown.svg", "shown.pdf"}) {
        const QString path = dir_.filePath(QString::fromLatin1(name));
        const ChartFileResult written = WriteChartFile(viewer_->chart(), viewer_->chart().size().toSize(), path);
        ASSERT_TRUE(written.ok) << written.message.toStdString();
        EXPECT_GT(QFile(path).size(), 1000) << name;
    }
    const QImage picture(dir_.filePath(QStringLiteral("shown.png")));
    EXPECT_EQ(picture.size(), viewer_->chart().size().toSize());
    EXPECT_FALSE(WriteChartFile(viewer_->chart(), QSize(400, 300), dir_.filePath(QStringLiteral("no/dir/x.png"))).ok);
}

} // namespace

namespace {

TEST_F(LogViewerTest, MarkupFromTheFileStaysTextAndLevelsOfOneHeightStayVisible)
{
    QStringList lines = logs::LoggerExportLines(r310test::ShiftLogger(4, 1, kGerman));
    for (int i = 1; i < 20; ++i)
        lines[i].replace(QStringLiteral("ppm CO"), QStringLiteral("ppm <b>CO</b>"));
    lines[30] = QStringLiteral("<h1 style='color:green'>FILE CHECKED: OK</h1>");
    const QString marked = dir_.filePath(QStringLiteral("marked.csv"));
    ASSERT_TRUE(logs::WriteExportFile(marked, lines).ok);
    ASSERT_TRUE(viewer_->OpenFile(marked));
    const QLabel &message = Find<QLabel>("viewerMessage");
    EXPECT_EQ(message.textFormat(), Qt::PlainText);
    EXPECT_TRUE(message.text().contains(QStringLiteral("<h1 style='color:green'>")));
    EXPECT_EQ(Find<QLabel>("viewerReadout").textFormat(), Qt::PlainText);
    LogChart &chart = viewer_->chart();
    EXPECT_TRUE(SeriesNames(chart).contains(QStringLiteral("ppm &lt;b&gt;CO&lt;/b&gt;")));
    EXPECT_EQ(viewer_->windowTitle(), QStringLiteral("Log viewer - marked.csv"));

    // A1 and TWA at 30 ppm: side by side in the legend, dashed in turn.
    viewer_->SetAlarmLevels(logs::ParseAlarmLevels(QStringLiteral("30,60,,50,30")).value());
    const QStringList names = SeriesNames(chart);
    const qsizetype a1 = names.indexOf(QStringLiteral("A1 30")), twa = names.indexOf(QStringLiteral("TWA 30"));
    ASSERT_GE(a1, 0);
    EXPECT_EQ(twa, a1 + 1) << names.join(u'|').toStdString();
    const QPen first = static_cast<QLineSeries *>(chart.series()[a1])->pen();
    const QPen second = static_cast<QLineSeries *>(chart.series()[twa])->pen();
    EXPECT_EQ(first.dashPattern(), second.dashPattern());
    EXPECT_NE(first.dashOffset(), second.dashOffset());

    // Oxygen: no STEL or TWA, neither as figures nor as lines.
    viewer_->ShowLogger(std::make_shared<logs::LogFile>(logs::ReadLogFileBytes(
                            logs::EncodeExportLines({logs::kLoggerHeaderLine,
                                                     QStringLiteral("02.03.2026 06:00:00;20,9;%Vol O2; ;"),
                                                     QStringLiteral("02.03.2026 06:01:00;18,9;%Vol O2;ALARM;")}),
                            QStringLiteral("o2.csv"))),
                        logs::ParseAlarmLevels(QStringLiteral("19.5v,18v,,1,1")).value(), QStringLiteral("saved.csv"));
    const QTableWidget &exposure = Find<QTableWidget>("exposureTable");
    EXPECT_EQ(exposure.item(0, 8)->text(), QString(QChar(0x2014)));
    EXPECT_EQ(exposure.horizontalHeaderItem(10)->text(), QString::fromUtf8("\u2264 A1"));
    EXPECT_EQ(exposure.item(0, 10)->text(), QStringLiteral("0:01:00"));
    EXPECT_FALSE(SeriesNames(chart).join(u'|').contains(QStringLiteral("STEL")));
    EXPECT_TRUE(chart.title().startsWith(QStringLiteral("saved.csv")));
    // The chart has two thirds of the height at the least.
    QApplication::processEvents();
    EXPECT_GE(viewer_->chartView().height() * 3, viewer_->tabs().currentWidget()->height() * 2);
}

} // namespace

namespace {

TEST(ChartTicks, RoundValuesAndTimesWithTheDateWhereItChanges)
{
    const std::tuple<double, int, double> values[] = {{41.3, 8, 10}, {41.3, 9, 5}, {1, 5, 0.2}, {0.07, 7, 0.01}, {230, 10, 25}, {9e5, 4, 2.5e5}};
    for (const auto &[span, most, step] : values)
        EXPECT_DOUBLE_EQ(RoundValueStep(span, most), step) << span << " " << most;

    const QLocale german(QLocale::German, QLocale::Germany);
    const std::int64_t from = logs::WallClockSeconds(QDateTime(QDate(2026, 3, 2), QTime(7, 13, 20)));
    QStringList labels;
    for (const TimeTick &tick : RoundTimeTicks(from, from + 30 * 3600, 6, german)) {
        EXPECT_EQ(tick.at % (6 * 3600), 0);
        labels.append(tick.label);
    }
    EXPECT_EQ(labels, (QStringList{"02.03.2026 12:00", "18:00", "03.03.2026 00:00", "06:00", "12:00"}));
    const std::vector<TimeTick> seconds = RoundTimeTicks(from, from + 60, 4, german);
    ASSERT_EQ(seconds.size(), 4u);
    EXPECT_EQ(seconds[0].label, QStringLiteral("02.03.2026 07:13:30"));
    EXPECT_EQ(seconds[1].label, QStringLiteral("07:13:45"));
}

} // namespace
