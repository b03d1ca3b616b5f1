#include "LogViewer.h"

#include <ChartExport.h>
#include <Formats.h>
#include <LogChart.h>
#include <LogChartView.h>

#include <QBoxLayout>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>

#include <unordered_map>

namespace r310::ui {

namespace {

const QString kCaption = QStringLiteral("Log viewer");

QString DurationText(std::int64_t seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QTableWidgetItem *Cell(const QString &text, bool number = true)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    if (number)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// The type filter's choices: what it shows, and the pattern for the Type column.
struct TypeChoice {
    const char *text;
    const char *pattern;
};
const TypeChoice kTypeChoices[] = {
    {"All types", ""},        {"Alarms", "^A\\d"},      {"Alarms on", "^A\\d ON$"}, {"A1 ON", "^A1 ON$"},
    {"A2 ON", "^A2 ON$"},     {"A3 ON", "^A3 ON$"},     {"A4 ON", "^A4 ON$"},       {"A5 ON", "^A5 ON$"},
    {"Dev-ON", "^Dev-ON$"},   {"Dev-OFF", "^Dev-OFF$"}, {"Unknown type", "^$"},
};

enum EventColumn { kNo, kTime, kType, kValue, kStel, kTwa, kGas, kBattery, kEventColumns };

} // namespace

QString InstrumentText(const QString &serialNumber, const QString &gasText, const QString &rangeText)
{
    QStringList parts;
    if (!serialNumber.trimmed().isEmpty())
        parts.append(QStringLiteral("SN ") + serialNumber.trimmed());
    if (!gasText.trimmed().isEmpty())
        parts.append(gasText.trimmed());
    if (!rangeText.isEmpty())
        parts.append(QStringLiteral("range ") + rangeText);
    return parts.join(QStringLiteral(", "));
}

LogViewer::LogViewer(const QLocale &locale, QWidget *parent) : QWidget(parent, Qt::Window), locale_(locale)
{
    setObjectName(QStringLiteral("LogViewer"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(1100, 780);

    auto *open = new QPushButton(QStringLiteral("Open..."), this);
    open->setObjectName(QStringLiteral("viewerOpen"));
    exportButton_ = new QPushButton(QStringLiteral("Export..."), this);
    exportButton_->setObjectName(QStringLiteral("viewerExport"));
    exportButton_->setToolTip(QStringLiteral("Save the chart as shown: PNG, SVG or PDF"));
    wholeButton_ = new QPushButton(QStringLiteral("Whole log"), this);
    wholeButton_->setObjectName(QStringLiteral("viewerWhole"));
    wholeButton_->setToolTip(QStringLiteral("Back to the whole log (Home)"));
    auto *hint = new QLabel(QStringLiteral("Zoom: wheel, dragged rectangle, + and -; pan: middle button, arrows"), this);
    hint->setEnabled(false);
    levelsEdit_ = new QLineEdit(this);
    levelsEdit_->setObjectName(QStringLiteral("viewerLevels"));
    levelsEdit_->setPlaceholderText(QStringLiteral("e.g. 30,60,100,50,20"));
    levelsEdit_->setToolTip(QStringLiteral("The instrument's alarm levels A1, A2, A3, STEL and TWA in the samples' "
                                           "unit, \".\" as decimal point; leave out what is not known. A \"v\" "
                                           "after A1, A2 or A3 makes it a level that falls below (oxygen): "
                                           "19.5v,18v,23.5"));
    levelsEdit_->setMaximumWidth(180);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(open);
    buttons->addWidget(exportButton_);
    buttons->addWidget(wholeButton_);
    buttons->addSpacing(12);
    buttons->addWidget(new QLabel(QStringLiteral("Alarm levels A1,A2,A3,STEL,TWA:"), this));
    buttons->addWidget(levelsEdit_);
    buttons->addStretch();
    buttons->addWidget(hint);

    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("viewerMessage"));
    message_->setWordWrap(true);
    message_->setStyleSheet(QStringLiteral("color: rgb(180, 0, 0);"));
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_->setTextFormat(Qt::PlainText); // it quotes lines of the file
    message_->hide();

    chart_ = new LogChart(locale_);
    chartView_ = new LogChartView(chart_);
    chartView_->setObjectName(QStringLiteral("viewerChart"));
    chartView_->setMinimumHeight(300);
    readout_ = new QLabel(QStringLiteral(" "), this);
    readout_->setObjectName(QStringLiteral("viewerReadout"));
    readout_->setTextFormat(Qt::PlainText);
    exposure_ = new QTableWidget(this);
    exposure_->setObjectName(QStringLiteral("exposureTable"));
    exposure_->verticalHeader()->hide();
    exposure_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto *below = new QWidget(this);
    auto *belowLayout = new QVBoxLayout(below);
    belowLayout->setContentsMargins(0, 0, 0, 0);
    belowLayout->addWidget(readout_);
    belowLayout->addWidget(exposure_);
    // The chart takes the room; the table under it as much as its rows need,
    // at most a third.
    exposure_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter_ = splitter;
    splitter->addWidget(chartView_);
    splitter->addWidget(below);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setChildrenCollapsible(false);

    typeFilter_ = new QComboBox(this);
    typeFilter_->setObjectName(QStringLiteral("eventTypeFilter"));
    for (const TypeChoice &choice : kTypeChoices)
        typeFilter_->addItem(QString::fromLatin1(choice.text));
    eventModel_ = new QStandardItemModel(0, kEventColumns, this);
    eventModel_->setHorizontalHeaderLabels({QStringLiteral("No"), QStringLiteral("Date Time"), QStringLiteral("Typ"),
                                            QStringLiteral("Value"), QStringLiteral("STEL(15min)"),
                                            QStringLiteral("TWA(8h)"), QStringLiteral("Gas"), QStringLiteral("BAT")});
    eventFilter_ = new QSortFilterProxyModel(this);
    eventFilter_->setSourceModel(eventModel_);
    eventFilter_->setSortRole(Qt::UserRole);
    eventFilter_->setFilterKeyColumn(kType);
    eventTable_ = new QTableView(this);
    eventTable_->setObjectName(QStringLiteral("eventTable"));
    eventTable_->setModel(eventFilter_);
    eventTable_->setSortingEnabled(true);
    eventTable_->sortByColumn(kNo, Qt::AscendingOrder);
    eventTable_->verticalHeader()->hide();
    eventTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    eventTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    auto *eventsPage = new QWidget(this);
    auto *eventsLayout = new QVBoxLayout(eventsPage);
    auto *filterRow = new QHBoxLayout;
    filterRow->addWidget(new QLabel(QStringLiteral("Type:"), eventsPage));
    filterRow->addWidget(typeFilter_);
    filterRow->addStretch();
    eventsLayout->addLayout(filterRow);
    eventsLayout->addWidget(eventTable_);

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("viewerTabs"));
    tabs_->addTab(splitter, QStringLiteral("Data logger"));
    tabs_->addTab(eventsPage, QStringLiteral("Events"));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(message_);
    layout->addWidget(tabs_, 1);

    connect(open, &QPushButton::clicked, this, &LogViewer::OpenClicked);
    connect(exportButton_, &QPushButton::clicked, this, &LogViewer::ExportClicked);
    connect(wholeButton_, &QPushButton::clicked, this, [this] { chart_->ShowWhole(); });
    connect(chartView_, &LogChartView::readoutChanged, this, [this](const QString &text) {
        readout_->setText(text.isEmpty() ? QStringLiteral(" ") : text);
    });
    connect(typeFilter_, &QComboBox::currentIndexChanged, this, &LogViewer::FilterEvents);
    connect(levelsEdit_, &QLineEdit::editingFinished, this, [this] {
        const std::optional<logs::AlarmLevels> typed = logs::ParseAlarmLevels(levelsEdit_->text());
        if (!typed) {
            ShowMessage(QStringLiteral("Alarm levels: up to five numbers A1,A2,A3,STEL,TWA with \".\" as "
                                       "decimal point, e.g. 30,60,100,50,20; a \"v\" after A1 to A3 for a "
                                       "level that falls below: 19.5v,18v,23.5"));
            return;
        }
        ShowMessage(QString());
        SetAlarmLevels(*typed);
    });
    UpdateCaption();
}

LogViewer::~LogViewer() = default;

QString LogViewer::message() const
{
    return message_->text();
}

void LogViewer::ShowMessage(const QString &text)
{
    message_->setText(text);
    message_->setVisible(!text.isEmpty());
}

bool LogViewer::OpenFile(const QString &path)
{
    auto file = std::make_shared<logs::LogFile>(logs::ReadLogFile(path));
    ShowMessage(file->problem);
    if (file->kind == logs::LogFileKind::DataLogger && !file->series.empty())
        ShowLogger(std::move(file), levels_);
    else if (file->kind == logs::LogFileKind::EventLog && !file->events.empty())
        ShowEvents(std::move(file));
    else {
        if (!file->unreadable() && file->problem.isEmpty())
            ShowMessage(QStringLiteral("%1 holds no samples and no events").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    return true;
}

void LogViewer::SetAlarmLevels(const logs::AlarmLevels &levels)
{
    levels_ = levels;
    levelsEdit_->setText(logs::AlarmLevelsText(levels_));
    chart_->SetAlarmLevels(levels_);
    if (logger_)
        FillExposure();
}

void LogViewer::SetInstrument(const QString &instrument)
{
    instrument_ = instrument;
    UpdateTitle();
}

void LogViewer::UpdateTitle()
{
    if (logger_)
        chart_->SetTitleLines(loggerName_, instrument_);
}

void LogViewer::ShowLogger(std::shared_ptr<const logs::LogFile> logger, const logs::AlarmLevels &levels,
                           const QString &name)
{
    logger_ = std::move(logger);
    loggerName_ = name.isEmpty() ? QFileInfo(logger_->path).fileName() : name;
    levels_ = levels;
    levelsEdit_->setText(logs::AlarmLevelsText(levels_));
    chart_->SetAlarmLevels(levels_);
    chart_->SetLogger(logger_);
    UpdateTitle();
    if (events_)
        chart_->SetEvents(events_->events);
    FillExposure();
    tabs_->setCurrentIndex(0);
    UpdateCaption();
}

void LogViewer::ShowEvents(std::shared_ptr<const logs::LogFile> events)
{
    events_ = std::move(events);
    chart_->SetEvents(events_->events);
    FillEvents();
    if (!logger_)
        tabs_->setCurrentIndex(1);
    UpdateCaption();
}

void LogViewer::UpdateCaption()
{
    QStringList names;
    if (logger_)
        names.append(loggerName_);
    if (events_)
        names.append(QFileInfo(events_->path).fileName());
    setWindowTitle(names.isEmpty() ? kCaption : kCaption + QStringLiteral(" - ") + names.join(QStringLiteral(", ")));
    tabs_->setTabEnabled(0, logger_ != nullptr || !events_);
    tabs_->setTabEnabled(1, events_ != nullptr);
    exportButton_->setEnabled(logger_ != nullptr);
    wholeButton_->setEnabled(logger_ != nullptr);
}

void LogViewer::FillExposure()
{
    const std::vector<logs::ExposureFigures> figures = logs::ComputeExposure(logger_->series, levels_);
    QStringList headers{QStringLiteral("Gas"),     QStringLiteral("Section"),     QStringLiteral("Start"),
                        QStringLiteral("End"),     QStringLiteral("Samples"),     QString::fromUtf8("\u0394t (s)"),
                        QStringLiteral("Peak"),    QStringLiteral("Peak at"),     QStringLiteral("STEL(15min)"),
                        QStringLiteral("TWA(8h)")};
    for (std::size_t k = 0; k < levels_.falling.size(); ++k)
        headers.append(QString(levels_.falling[k] ? QChar(0x2264) : QChar(0x2265)) + QStringLiteral(" A%1").arg(k + 1));
    exposure_->clear();
    exposure_->setColumnCount(static_cast<int>(headers.size()));
    exposure_->setHorizontalHeaderLabels(headers);
    exposure_->setRowCount(static_cast<int>(figures.size()));
    std::unordered_map<QString, int> decimalsOf;
    for (const logs::LoggerSeries &series : logger_->series)
        decimalsOf.emplace(series.gas, series.decimals);
    const QString none(QChar(0x2014));
    for (int row = 0; row < static_cast<int>(figures.size()); ++row) {
        const logs::ExposureFigures &f = figures[static_cast<std::size_t>(row)];
        const int decimals = decimalsOf[f.gas];
        auto time = [this](std::int64_t t) { return DateTimeText(logs::WallClockDateTime(t), locale_); };
        auto figure = [&](const std::optional<double> &v) { return v ? ValueText(*v, decimals + 2, locale_) : none; };
        auto duration = [](const std::optional<std::int64_t> &s) { return s ? DurationText(*s) : QString(); };
        const QStringList texts{f.gas,
                                QString::number(f.section + 1),
                                time(f.start),
                                time(f.end),
                                QString::number(f.samples),
                                QString::number(f.interval),
                                ValueText(f.peak, decimals, locale_),
                                time(f.peakTime),
                                figure(f.stel),
                                figure(f.twa),
                                duration(f.inAlarm[0]),
                                duration(f.inAlarm[1]),
                                duration(f.inAlarm[2])};
        for (int column = 0; column < static_cast<int>(texts.size()); ++column)
            exposure_->setItem(row, column, Cell(texts[column], column != 0 && column != 2 && column != 3 && column != 7));
    }
    exposure_->resizeColumnsToContents();
    // Short tables take what their rows need, the chart the rest (two thirds at the least).
    const int rowsHeight = exposure_->horizontalHeader()->height() + 2 * exposure_->frameWidth()
                         + exposure_->verticalHeader()->length() + exposure_->horizontalScrollBar()->sizeHint().height();
    const int total = std::max(splitter_->height(), 600);
    const int below = std::min(rowsHeight + readout_->sizeHint().height(), total / 3);
    splitter_->setSizes({total - below, below});
}

void LogViewer::FillEvents()
{
    eventModel_->removeRows(0, eventModel_->rowCount());
    for (const logs::EventEntry &event : events_->events) {
        QList<QStandardItem *> row;
        auto add = [&row](const QString &text, const QVariant &sortKey) {
            auto *item = new QStandardItem(text);
            item->setData(sortKey, Qt::UserRole);
            item->setEditable(false);
            row.append(item);
        };
        add(QString::number(event.number), event.number);
        add(DateTimeText(logs::WallClockDateTime(event.time), locale_), static_cast<qlonglong>(event.time));
        add(event.type, event.type);
        add(event.value.trimmed(), event.valueNumber.value_or(-1e300));
        add(event.stel.trimmed(), event.stel.trimmed());
        add(event.twa.trimmed(), event.twa.trimmed());
        add(event.gas.trimmed(), event.gas.trimmed());
        add(event.battery.trimmed(), event.battery.trimmed());
        if (event.isAlarm()) {
            const QColor colour = event.isAlarmOn() ? QColor(255, 190, 190) : QColor(255, 235, 200);
            for (QStandardItem *item : row)
                item->setBackground(colour);
        }
        eventModel_->appendRow(row);
    }
    eventTable_->resizeColumnsToContents();
}

void LogViewer::FilterEvents(int index)
{
    if (index < 0 || index >= static_cast<int>(std::size(kTypeChoices)))
        return;
    eventFilter_->setFilterRegularExpression(QString::fromLatin1(kTypeChoices[index].pattern));
}

void LogViewer::OpenClicked()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open log"), QString(),
                                                      QStringLiteral("Log export files (*.csv *.txt);;All files (*)"));
    if (!path.isEmpty())
        OpenFile(path);
}

void LogViewer::ExportClicked()
{
    QString filter;
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export chart"), QString(),
        QStringLiteral("PNG picture (*.png);;SVG picture (*.svg);;PDF document (*.pdf)"), &filter);
    if (path.isEmpty())
        return;
    if (ChartFormatOf(path) == ChartFormat::Unknown)
        path += filter.contains(QLatin1String("svg")) ? QStringLiteral(".svg")
              : filter.contains(QLatin1String("pdf")) ? QStringLiteral(".pdf")
                                                      : QStringLiteral(".png");
    const ChartFileResult written = WriteChartFile(*chart_, chart_->size().toSize(), path, instrument_);
    ShowMessage(written.ok ? QString() : written.message);
}

DownloadedLogs::DownloadedLogs(QWidget &window) : QObject(&window), window_(window)
{
    setObjectName(QStringLiteral("DownloadedLogs"));
}

DownloadedLogs &DownloadedLogs::Of(QWidget &window)
{
    if (auto *logs = window.findChild<DownloadedLogs *>(QString(), Qt::FindDirectChildrenOnly))
        return *logs;
    return *new DownloadedLogs(window);
}

void DownloadedLogs::SetLogger(const QString &serialNumber, std::shared_ptr<const logs::LogFile> logger,
                               const logs::AlarmLevels &levels, const QString &instrument)
{
    loggerSerial_ = serialNumber;
    logger_ = std::move(logger);
    levels_ = levels;
    loggerInstrument_ = instrument;
    loggerName_ = QStringLiteral("Data logger download (not saved)");
}

void DownloadedLogs::SetLoggerSaved(const QString &path)
{
    loggerName_ = QFileInfo(path).fileName();
}

void DownloadedLogs::SetEvents(const QString &serialNumber, std::shared_ptr<const logs::LogFile> events)
{
    eventsSerial_ = serialNumber;
    events_ = std::move(events);
}

LogViewer *DownloadedLogs::ShowLogger()
{
    return logger_ ? Open(true) : nullptr;
}

LogViewer *DownloadedLogs::ShowEvents()
{
    return events_ ? Open(false) : nullptr;
}

LogViewer *DownloadedLogs::Open(bool loggerFirst)
{
    auto *viewer = new LogViewer(QLocale::system(), &window_);
    const bool sameInstrument = logger_ && events_ && loggerSerial_ == eventsSerial_;
    if (loggerFirst || sameInstrument) {
        viewer->SetInstrument(loggerInstrument_);
        viewer->ShowLogger(logger_, levels_, loggerName_);
    }
    if (!loggerFirst || sameInstrument)
        viewer->ShowEvents(events_);
    viewer->tabs().setCurrentIndex(loggerFirst ? 0 : 1);
    viewer->show();
    viewer->raise();
    return viewer;
}

namespace {

// The box layout that holds `widget`, searched from `layout` down.
QBoxLayout *BoxHolding(QLayout *layout, QWidget *widget)
{
    if (!layout)
        return nullptr;
    auto *box = qobject_cast<QBoxLayout *>(layout);
    if (box && box->indexOf(widget) >= 0)
        return box;
    for (int i = 0; i < layout->count(); ++i) {
        if (QBoxLayout *found = BoxHolding(layout->itemAt(i)->layout(), widget))
            return found;
    }
    return nullptr;
}

} // namespace

QPushButton *DownloadedLogs::MakeShowButton(QPushButton *after, const QString &objectName)
{
    QWidget *page = after->parentWidget();
    auto *button = new QPushButton(QStringLiteral("Show..."), page);
    button->setObjectName(objectName);
    button->setToolTip(QStringLiteral("Show the last download in the log viewer"));
    button->setEnabled(false);
    if (QBoxLayout *row = BoxHolding(page->layout(), after))
        row->insertWidget(row->indexOf(after) + 1, button);
    return button;
}

} // namespace r310::ui
