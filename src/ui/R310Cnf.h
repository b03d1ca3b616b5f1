#pragma once
// The main window TFo_R310: the instrument's values on eight tabs, the port
// list with "&Open Port" and "&Close Comport", the connection lamp, the
// status bar, and unsaved changes per settings group. It is a front end of
// the instrument connection: every exchange runs there, and what it reports
// arrives here as queued signals that the window shows.
#include "ChangeTracking.h"
#include "Dialogs.h"
#include "InstrumentDisplay.h"
#include "MainWidgets.h"
#include "TabChangeGuard.h"

#include <InstrumentConnection.h>
#include <RecordsLocation.h>

#include <QMainWindow>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <set>

namespace r310 {
class GasTable;
}

namespace r310::records {
class SessionRecorder;
}

namespace r310::ui {

class SettingsTabs;
class DataloggingTab;
class EventPropertiesTab;
class IdentityTab;
class CalibrationTab;
class ServiceFunctionTab;
class ProfileCommands;
class RecordsCommands;
class CertificateCommands;

// The entry of the built-in simulated instrument in the port list (--demo).
inline const QString kDemoPortEntry = QStringLiteral("Demo R310");

// What the window is started with; the program fills it from the command
// line and the system, tests with their own settings, link and seam.
struct WindowSetup {
    // The program's arguments, its name first: "/pr" and "--port DEVICE".
    QStringList arguments;
    // The system's serial ports, in enumeration order.
    QList<SerialPortDescription> ports;
    // Reads the system's ports anew; the list is filled again from it each
    // time the port is closed and each time the list opens. Empty: the list
    // keeps `ports`.
    std::function<QList<SerialPortDescription>()> listPorts;
    // The per-user store of the remembered port; null remembers nothing.
    std::unique_ptr<QSettings> portSettings;
    PortNaming naming = kHostPortNaming;
    ConnectionOptions connection;
    // The link of the built-in simulated instrument: when set, its entry is
    // added to the port list and preselected (--demo).
    SerialPort::BackendFactory demoLink;
    // Message boxes; null: window-modal message boxes over this window.
    Dialogs *dialogs = nullptr;
    // The header picture; empty: none.
    QString picturePath;
    // Names gas and unit in settings profiles; null leaves them out.
    const GasTable *gasTable = nullptr;
    // Where the service records are kept; none records nothing.
    records::RecordsChoice records;
};

class TFo_R310 : public QMainWindow {
    Q_OBJECT
public:
    // FormCreate: builds the widgets, fills the port list and preselects the
    // remembered port, shows "Setup" for "/pr", puts the window into the
    // disconnected state and the General tab in front.
    explicit TFo_R310(WindowSetup setup, QWidget *parent = nullptr);
    ~TFo_R310() override;

    const MainWidgets &widgets() const { return w_; }
    // Null once the window has closed.
    InstrumentConnection *connection() const { return connection_.get(); }
    ChangeTracking &changes() { return *tracking_; }
    Dialogs &dialogs() { return *dialogs_; }
    InstrumentDisplay &display() { return display_; }

    // The rule asked before the active tab changes; no rule allows every change.
    void SetTabChangeRule(TabChangeGuard::Rule rule) { changingRule_ = std::move(rule); }
    // What leaving a tab does while an instrument is connected: write the
    // tab's unsaved changes (and allow), or refuse while a transfer or a
    // calibration runs there. Each tab's module registers its own.
    using LeaveHandler = std::function<bool()>;
    void SetLeaveHandler(InstrumentTab tab, LeaveHandler handler);
    TabChangeGuard &tabGuard() { return *guard_; }
    // Keeps the service records of the instruments this window works with.
    records::SessionRecorder &recorder();
    // The test gas cylinders, certificates and fleet report of the records.
    CertificateCommands &certificates() { return *certificateCommands_; }
    RecordsCommands &records() { return *recordsCommands_; }

    // The job of the last tab change's reads (0 before the first).
    JobId LastTabRead() const { return lastTabRead_; }
    // The instrument tab a page index of PageControl1 shows.
    InstrumentTab TabAt(int index) const;
    int IndexOf(InstrumentTab tab) const;

    // A line in the status bar over the two panels: a result the user
    // should see (where a download was saved) for a while, or a hint that
    // stays until the state it explains ends (no port, a silent port).
    void ShowNotice(const QString &text);
    void ShowHint(const QString &text);
    void ClearHint();

    // "&Open Port": opens the port chosen in the list and searches for the
    // instrument. "&Close Comport": ends what runs and closes the port.
    void OpenPort();
    void ClosePort();

    // The handlers of the window's buttons and page control.
    void Button12Click() { OpenPort(); }
    void Button_ClosePortClick() { ClosePort(); }
    void Button3Click();
    bool PageControl1Changing(int from, int to);
    void PageControl1Change(int index);

signals:
    // An answer was shown (for the modules that bind further objects).
    void answerShown(const r310::DecodedAnswer &answer, const r310::AnswerFrame &frame);

protected:
    // FormClose: ends what runs or waits, closes the port, ends the engine.
    void closeEvent(QCloseEvent *event) override;
    // A hint given before the window was first shown is laid out again now.
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate(const WindowSetup &setup);
    void FillPortList(const WindowSetup &setup);
    void ConnectInstrument();
    void LoadHeaderPicture(const QString &path);
    void SetPortControlsClosed();
    void PortOpened(const QString &portName);
    void PortOpenFailed(const QString &message);
    void PortClosed();
    void RefreshPortList();
    void ApplyPortChoice(PortChoice choice);
    void PhaseChanged(ConnectionPhase phase);
    void ShowSilentPortHint();
    void JobStarted(JobId id);
    void JobFinished(JobId id);
    void UpdateExitAccelerator();
    void ShutDown();

    MainWidgets w_;
    std::unique_ptr<MessageBoxDialogs> ownDialogs_;
    Dialogs *dialogs_ = nullptr;
    ChangeTracking *tracking_ = nullptr;
    InstrumentDisplay display_;
    TabChangeGuard *guard_ = nullptr;
    TabChangeGuard::Rule changingRule_;
    std::map<InstrumentTab, LeaveHandler> leaveHandlers_;
    std::unique_ptr<ComPortSel> portSelection_;
    std::unique_ptr<InstrumentConnection> connection_;

    bool demoInList_ = false;
    std::function<QList<SerialPortDescription>()> listPorts_;
    QString commandLinePort_;
    // The hint now in the status bar, so that only it is taken away.
    QString hint_;
    // A search that finds nothing says so after this long.
    QTimer silentPort_;
    bool silentHintShown_ = false;
    // Opens asked for whose port has neither opened nor failed yet, by job:
    // one dropped from the queue leaves with its jobFinished.
    std::set<JobId> pendingOpens_;
    bool closeButtonBeforeOpen_ = false;
    QString openingEntry_;
    JobId openJob_ = 0;
    JobId runningJob_ = 0;
    JobId lastTabRead_ = 0;
    QTimer busyDelay_;
    SettingsTabs *settingsTabs_ = nullptr;
    DataloggingTab *dataloggingTab_ = nullptr;
    IdentityTab *identityTab_ = nullptr;
    CalibrationTab *calibrationTab_ = nullptr;
    ServiceFunctionTab *serviceFunctionTab_ = nullptr;
    EventPropertiesTab *eventPropertiesTab_ = nullptr;
    ProfileCommands *profileCommands_ = nullptr;
    RecordsCommands *recordsCommands_ = nullptr;
    CertificateCommands *certificateCommands_ = nullptr;
};

} // namespace r310::ui
