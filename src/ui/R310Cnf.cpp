#include "R310Cnf.h"

#include "CalibrationTab.h"
#include "ConnectionLamp.h"
#include "DataloggingTab.h"
#include "EventPropertiesTab.h"
#include "IdentityTab.h"
#include "ProfileCommands.h"
#include "CertificateCommands.h"
#include "RecordsCommands.h"
#include "SettingsTabs.h"
#include "ServiceFunctionTab.h"

#if defined(R310_HAVE_HEADER_PICTURE)
#include "JpegPicture.h"
#endif

#include <SessionRecorder.h>
#include <LogDecoders.h>
#include <PortOptions.h>
#include <QSerialPortBackend.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>

#include <algorithm>

namespace r310::ui {

namespace {

// The size the window opens with. When its contents need more (a larger
// font, another language, display scaling) it grows in both directions alike.
constexpr QSize kDesignSize(679, 484);

QSize OpeningSize(const QSize &needed)
{
    const double factor = std::max({1.0, double(needed.width()) / kDesignSize.width(),
                                    double(needed.height()) / kDesignSize.height()});
    return (QSizeF(kDesignSize) * factor).toSize().expandedTo(needed);
}
// A job shows the busy cursor only when it lasts longer than this, so the
// short reads of a tab change do not make the pointer flicker.
constexpr int kBusyCursorDelayMilliseconds = 300;
// A search without an answer says what to check after 100 ticks (10 s).
constexpr int kSilentPortTicks = 100;
// How long a result stays in the status bar.
constexpr int kNoticeMilliseconds = 30000;

const QString kSimulatedCaption = QStringLiteral(" – simulated instrument");

QString NoPortHint()
{
    return QStringLiteral("No serial port found. To try the configurator on the built-in simulated instrument, "
                          "start it with --demo");
}

QString DemoHint()
{
    return QStringLiteral("\"%1\" is the built-in simulated instrument: press Open Port to try the configurator on it")
        .arg(kDemoPortEntry);
}

QString SilentPortHint(const QString &port)
{
    return QStringLiteral("No instrument answers on %1. Is it switched on and seated in its cradle? Check the cable, "
                          "or run r310ctl doctor. Still searching…")
        .arg(port);
}

const InstrumentTab kTabOrder[] = {
    InstrumentTab::General,     InstrumentTab::Range,           InstrumentTab::Signals,
    InstrumentTab::Hardware,    InstrumentTab::Calibration,     InstrumentTab::SpecialFunction,
    InstrumentTab::EventProperties, InstrumentTab::Datalogging,
};

// Real serial devices for the port list's entries, the simulated instrument
// for its own entry.
SerialPort::BackendFactory LinkWithDemo(SerialPort::BackendFactory ports, SerialPort::BackendFactory demo)
{
    return [ports = std::move(ports), demo = std::move(demo)](const QString &name,
                                                               const LineSettings &line) -> std::unique_ptr<SerialBackend> {
        if (name == kDemoPortEntry)
            return demo(name, line);
        if (ports)
            return ports(name, line);
        return std::make_unique<QSerialPortBackend>(name, line);
    };
}

ConnectionOptions ConnectionFor(WindowSetup &setup)
{
    ConnectionOptions options = setup.connection;
    if (setup.demoLink)
        options.link = LinkWithDemo(options.link, setup.demoLink);
    // The log objects' decoder branches, then any the caller adds.
    options.decoderSetup = [callerSetup = std::move(options.decoderSetup)](AnswerDecoder &decoder) {
        logs::InstallLogDecoders(decoder);
        if (callerSetup)
            callerSetup(decoder);
    };
    return options;
}

} // namespace

TFo_R310::TFo_R310(WindowSetup setup, QWidget *parent)
    : QMainWindow(parent),
      w_(BuildMainWidgets(*this)),
      ownDialogs_(setup.dialogs ? nullptr : std::make_unique<MessageBoxDialogs>(this)),
      dialogs_(setup.dialogs ? setup.dialogs : ownDialogs_.get()),
      tracking_(new ChangeTracking(w_, this)),
      display_(w_, *tracking_),
      guard_(new TabChangeGuard(*w_.PageControl1)),
      portSelection_(std::make_unique<ComPortSel>(std::move(setup.portSettings), setup.naming)),
      connection_(std::make_unique<InstrumentConnection>(ConnectionFor(setup))),
      listPorts_(std::move(setup.listPorts)),
      commandLinePort_(CommandLinePort(setup.arguments))
{
    setObjectName(QStringLiteral("Fo_R310"));
    setWindowTitle(kWindowCaption);
    resize(OpeningSize(minimumSizeHint().expandedTo(sizeHint())));
    busyDelay_.setSingleShot(true);
    busyDelay_.setInterval(kBusyCursorDelayMilliseconds);
    connect(&busyDelay_, &QTimer::timeout, this, [this] { setCursor(Qt::BusyCursor); });
    silentPort_.setSingleShot(true);
    silentPort_.setInterval(static_cast<int>(setup.connection.tick.count()) * kSilentPortTicks);
    connect(&silentPort_, &QTimer::timeout, this, &TFo_R310::ShowSilentPortHint);
    guard_->setRule([this](int from, int to) { return PageControl1Changing(from, to); });
    ConnectInstrument();
    FormCreate(setup);
    LoadHeaderPicture(setup.picturePath);
    settingsTabs_ = new SettingsTabs(*this, setup.connection.decoding.locale);
    dataloggingTab_ = new DataloggingTab(*this, setup.connection.decoding.locale);
    identityTab_ = new IdentityTab(*this);
    calibrationTab_ = new CalibrationTab(*this, setup.connection.decoding.locale);
    serviceFunctionTab_ = new ServiceFunctionTab(*this);
    eventPropertiesTab_ = new EventPropertiesTab(*this);
    profileCommands_ = new ProfileCommands(*this, setup.gasTable);
    recordsCommands_ = new RecordsCommands(*this, setup.records, setup.gasTable);
    certificateCommands_ = new CertificateCommands(*this, setup.records.ok() ? setup.records.target
                                                                              : records::RecordsTarget{},
                                                   setup.gasTable, setup.connection.decoding.locale);
}

records::SessionRecorder &TFo_R310::recorder() { return recordsCommands_->recorder(); }

TFo_R310::~TFo_R310()
{
    ShutDown();
    // Removing the pages while the widgets go would report tab changes.
    disconnect(w_.PageControl1, nullptr, this, nullptr);
}

void TFo_R310::FormCreate(const WindowSetup &setup)
{
    FillPortList(setup);
    w_.control.Button4->setVisible(FactorySetupRequested(setup.arguments));
    // The tick and the idle poll live in the connection's engine.
    Button_ClosePortClick();
    w_.PageControl1->setCurrentIndex(IndexOf(InstrumentTab::General));
    connection_->setShowingTab(InstrumentTab::General);

    connect(w_.control.Button12, &QPushButton::clicked, this, &TFo_R310::Button12Click);
    connect(w_.control.Button_ClosePort, &QPushButton::clicked, this, &TFo_R310::Button_ClosePortClick);
    connect(w_.control.Button3, &QPushButton::clicked, this, &TFo_R310::Button3Click);
    connect(w_.PageControl1, &QTabWidget::currentChanged, this, &TFo_R310::PageControl1Change);
    UpdateExitAccelerator();
    // Ctrl+Tab and Ctrl+Shift+Tab walk the tabs from anywhere in the window,
    // whichever widget has the focus, and ask before each change.
    const auto walkTabs = [this](const QKeySequence &keys, int step) {
        auto *shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, step] { guard_->requestTab(guard_->neighbour(step)); });
    };
    walkTabs(QKeySequence(Qt::CTRL | Qt::Key_Tab), 1);
    walkTabs(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1);
    w_.control.ComPortList->beforePopup = [this] { RefreshPortList(); };
    // A first start without any port: how to try the program all the same.
    if (demoInList_)
        ShowHint(DemoHint());
    else if (w_.control.ComPortList->count() <= 1)
        ShowHint(NoPortHint());
}

void TFo_R310::FillPortList(const WindowSetup &setup)
{
    demoInList_ = static_cast<bool>(setup.demoLink);
    PortChoice choice = portSelection_->PreparePortList(setup.ports, commandLinePort_);
    if (demoInList_)
        choice.selected = 1;
    ApplyPortChoice(std::move(choice));
}

void TFo_R310::ApplyPortChoice(PortChoice choice)
{
    if (demoInList_)
        choice.entries.insert(1, kDemoPortEntry);
    QComboBox &list = *w_.control.ComPortList;
    list.clear();
    list.addItems(choice.entries);
    list.setCurrentIndex(choice.selected);
}

void TFo_R310::RefreshPortList()
{
    // The list shows the ports only while none is open.
    QComboBox &list = *w_.control.ComPortList;
    if (!listPorts_ || !list.isEnabled())
        return;
    const QString chosen = list.currentText();
    PortChoice choice = portSelection_->PreparePortList(listPorts_(), commandLinePort_);
    if (demoInList_ && choice.selected > 0)
        ++choice.selected; // the simulated instrument's entry comes first
    ApplyPortChoice(std::move(choice));
    // The user's last choice stays chosen while it is there.
    if (const int kept = list.findText(chosen); kept > 0)
        list.setCurrentIndex(kept);
    if (hint_ == NoPortHint() && list.count() > 1)
        ClearHint();
}

void TFo_R310::ShowNotice(const QString &text)
{
    hint_.clear();
    silentHintShown_ = false;
    w_.status.StatusBar1->showMessage(text, kNoticeMilliseconds);
}

void TFo_R310::ShowHint(const QString &text)
{
    hint_ = text;
    w_.status.StatusBar1->showMessage(text);
}

void TFo_R310::ClearHint()
{
    silentHintShown_ = false;
    if (!hint_.isEmpty() && w_.status.StatusBar1->currentMessage() == hint_)
        w_.status.StatusBar1->clearMessage();
    hint_.clear();
}

void TFo_R310::PhaseChanged(ConnectionPhase phase)
{
    if (phase == ConnectionPhase::Searching) {
        silentPort_.start();
        return;
    }
    silentPort_.stop();
    if (silentHintShown_)
        ClearHint();
}

void TFo_R310::ShowSilentPortHint()
{
    if (connection_ && connection_->phase() == ConnectionPhase::Searching) {
        ShowHint(SilentPortHint(connection_->portName()));
        silentHintShown_ = true;
    }
}

void TFo_R310::ConnectInstrument()
{
    InstrumentConnection *c = connection_.get();
    connect(c, &InstrumentConnection::statusText, this, [this](int panel, const QString &text) {
        if (panel >= 0 && panel < static_cast<int>(w_.status.panels.size()))
            w_.status.panels[static_cast<std::size_t>(panel)]->setText(text);
    });
    connect(c, &InstrumentConnection::lampChanged, this, [this](LampColour colour) { display_.SetLamp(colour); });
    connect(c, &InstrumentConnection::answerDecoded, this,
            [this](const DecodedAnswer &answer, const AnswerFrame &frame) {
                display_.ShowAnswer(answer);
                emit answerShown(answer, frame);
            });
    connect(c, &InstrumentConnection::displayCleared, this, [this] { display_.ClearInstrumentDisplay(); });
    connect(c, &InstrumentConnection::calibrationButtonsEnabled, this,
            [this](bool enabled) { display_.SetCalibrationButtonsEnabled(enabled); });
    connect(c, &InstrumentConnection::resultBackgroundReset, this, [this] { display_.ResetResultBackground(); });
    connect(c, &InstrumentConnection::phaseChanged, this, &TFo_R310::PhaseChanged);
    connect(c, &InstrumentConnection::portOpened, this, &TFo_R310::PortOpened);
    connect(c, &InstrumentConnection::portOpenFailed, this, &TFo_R310::PortOpenFailed);
    connect(c, &InstrumentConnection::portClosed, this, &TFo_R310::PortClosed);
    connect(c, &InstrumentConnection::errorMessage, this, [this](const QString &text) { dialogs_->showMessage(text); });
    connect(c, &InstrumentConnection::portError, this, [this](const QString &text) { dialogs_->showError(text); });
    connect(c, &InstrumentConnection::instrumentChanged, this,
            [this](const QString &text) { dialogs_->showError(text); });
    connect(c, &InstrumentConnection::jobStarted, this, [this](JobId id, const QString &) { JobStarted(id); });
    connect(c, &InstrumentConnection::jobFinished, this, [this](JobId id, Outcome) { JobFinished(id); });
}

void TFo_R310::LoadHeaderPicture(const QString &path)
{
    QPixmap picture;
#if defined(R310_HAVE_HEADER_PICTURE)
    if (!path.isEmpty()) {
        const QImage image = LoadJpegPicture(path);
        if (!image.isNull())
            picture = QPixmap::fromImage(image);
    }
#else
    Q_UNUSED(path);
#endif
    // A missing or damaged picture leaves the header blank.
    w_.header.Image1->setPixmap(picture);
}

InstrumentTab TFo_R310::TabAt(int index) const
{
    const QWidget *page = w_.PageControl1->widget(index);
    const QWidget *pages[] = {w_.general.TabSheet1,     w_.range.TabSheet2,   w_.signalTab.TabSheet3,
                              w_.hardware.TabSheet4,    w_.calibration.TabSheet5, w_.special.TabSheet6,
                              w_.events.TabSheet7,      w_.logger.TabSheet8};
    for (std::size_t i = 0; i < std::size(pages); ++i) {
        if (pages[i] == page)
            return kTabOrder[i];
    }
    return InstrumentTab::General;
}

int TFo_R310::IndexOf(InstrumentTab tab) const
{
    for (int i = 0; i < w_.PageControl1->count(); ++i) {
        if (TabAt(i) == tab)
            return i;
    }
    return -1;
}

void TFo_R310::OpenPort()
{
    if (!connection_)
        return;
    QComboBox &list = *w_.control.ComPortList;
    const int index = list.currentIndex();
    QString portName;
    const ComPortSel::OpenResult result = list.currentText() == kDemoPortEntry && demoInList_
        ? (portName = kDemoPortEntry, ComPortSel::OpenResult::Opened)
        : portSelection_->PortToOpen(index, list.currentText(), &portName);
    if (result == ComPortSel::OpenResult::NothingSelected) {
        dialogs_->showMessage(
            list.count() > 1
                ? QStringLiteral("Choose the port of the instrument's adapter in the list, then press Open Port.")
                : QStringLiteral("No serial port was found. Plug in the instrument's adapter and open the list "
                                 "again, or start the configurator with --demo to try the built-in simulated "
                                 "instrument."));
        return;
    }
    if (result == ComPortSel::OpenResult::InvalidEntry) {
        list.setCurrentIndex(0);
        return;
    }
    ClearHint();
    closeButtonBeforeOpen_ = w_.control.Button_ClosePort->isEnabled();
    openingEntry_ = list.currentText();
    list.setEnabled(false);
    w_.control.Button12->setEnabled(false);
    w_.control.Button_ClosePort->setEnabled(true);
    openJob_ = connection_->open(portName);
    pendingOpens_.insert(openJob_);
}

void TFo_R310::PortOpened(const QString &)
{
    // The port is the running open job's.
    pendingOpens_.erase(runningJob_);
    // The simulated instrument is no port to remember; the title says it is simulated.
    if (openingEntry_ != kDemoPortEntry)
        portSelection_->RememberPort(openingEntry_);
    else
        setWindowTitle(kWindowCaption + kSimulatedCaption);
    recorder().setSimulated(openingEntry_ == kDemoPortEntry);
}

void TFo_R310::PortOpenFailed(const QString &message)
{
    pendingOpens_.erase(runningJob_);
    SetPortControlsClosed();
    w_.control.Button_ClosePort->setEnabled(closeButtonBeforeOpen_);
    dialogs_->showError(message);
}

void TFo_R310::PortClosed()
{
    // A close that belongs to an earlier open must not unlock the list
    // while a newer open is on its way.
    if (pendingOpens_.empty())
        SetPortControlsClosed();
}

void TFo_R310::SetPortControlsClosed()
{
    setWindowTitle(kWindowCaption);
    w_.control.ComPortList->setEnabled(true);
    w_.control.Button12->setEnabled(true);
    // An adapter plugged in meanwhile can be chosen now.
    RefreshPortList();
}

void TFo_R310::ClosePort()
{
    if (connection_)
        connection_->closePort();
    display_.ClearInstrumentDisplay();
    SetPortControlsClosed();
    for (QLabel *panel : w_.status.panels)
        panel->clear();
}

void TFo_R310::Button3Click()
{
    close();
}

void TFo_R310::SetLeaveHandler(InstrumentTab tab, LeaveHandler handler)
{
    leaveHandlers_[tab] = std::move(handler);
}

bool TFo_R310::PageControl1Changing(int from, int to)
{
    if (changingRule_ && !changingRule_(from, to))
        return false;
    // Without a connected instrument every tab may be left and nothing is written.
    if (!connection_ || !connection_->portOpen() || !connection_->record().InstrumentConnected || from < 0)
        return true;
    const auto handler = leaveHandlers_.find(TabAt(from));
    return handler == leaveHandlers_.end() || !handler->second || handler->second();
}

void TFo_R310::PageControl1Change(int index)
{
    UpdateExitAccelerator();
    if (connection_ && index >= 0)
        lastTabRead_ = connection_->readTab(TabAt(index));
}

void TFo_R310::UpdateExitAccelerator()
{
    // "&Exit" and "S&et" share Alt+E. With the Hardware tab in front the
    // keys belong to its "S&et", so the keyboard never ends the program
    // when the user meant to write the hardware settings.
    const bool hardwareInFront = w_.PageControl1->currentWidget() == w_.hardware.TabSheet4;
    QPushButton &exit = *w_.control.Button3;
    exit.setShortcut(hardwareInFront ? QKeySequence() : QKeySequence::mnemonic(exit.text()));
}

void TFo_R310::JobStarted(JobId id)
{
    runningJob_ = id;
    // The search shows itself in the status bar and may run for long; only
    // the user's other jobs show the busy cursor, once they take a while.
    if (id != openJob_)
        busyDelay_.start();
}

void TFo_R310::JobFinished(JobId id)
{
    // An open dropped from the queue (or ended) no longer holds the port list.
    if (pendingOpens_.erase(id) > 0 && pendingOpens_.empty() && connection_ && !connection_->portOpen())
        SetPortControlsClosed();
    if (id != runningJob_)
        return;
    runningJob_ = 0;
    busyDelay_.stop();
    unsetCursor();
}

void TFo_R310::ShutDown()
{
    if (!connection_)
        return;
    busyDelay_.stop();
    silentPort_.stop();
    unsetCursor();
    // Ends the running job and drops the waiting ones; destroying the
    // connection closes the port and ends its engine before it returns.
    connection_->cancel();
    connection_.reset();
}

void TFo_R310::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!hint_.isEmpty() && w_.status.StatusBar1->currentMessage() == hint_) {
        w_.status.StatusBar1->clearMessage();
        w_.status.StatusBar1->showMessage(hint_);
    }
}

void TFo_R310::closeEvent(QCloseEvent *event)
{
    ShutDown();
    event->accept();
}

} // namespace r310::ui
