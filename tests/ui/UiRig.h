#pragma once
// The main window on the simulated instrument, in-process and offscreen: a
// fast link (no line pacing, a short tick), a temporary per-user store, a
// message seam that records instead of showing, and the frames the
// instrument heard.
// The simulator's headers use the word "signals" as a name, which Qt
// defines as a keyword: they come before every Qt header.
#include <SimBackend.h>
#include <SimulatedInstrument.h>
#include <QStringPrinting.h>
#include <TestApplication.h>

#include <R310Cnf.h>

// The widgets and tools every window test uses.
#include <RadioGroup.h>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace uitest {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;
using r310test::LineFrame;

// The test programs' main (UiMain.cpp): the application object lives in
// main's frame, and the programs' settings in a folder of this run's own.
int RunWidgetTests(int argc, char **argv);
void EnsureWidgetApplication();
using r310test::SpinFor;
using r310test::SpinUntil;

class RecordingDialogs : public r310::ui::Dialogs {
public:
    void showError(const QString &text) override { errors.append(text); }
    void showMessage(const QString &text) override { messages.append(text); }
    // Records the request and answers at once with saveAnswer (empty: the
    // user cancels).
    void askSaveFileName(const QString &title, const QString &defaultSuffix, const QString &proposedName,
                         std::function<void(const QString &path)> chosen) override
    {
        saveRequests.append({title, defaultSuffix, proposedName});
        chosen(saveAnswer);
    }
    // Answers at once with openAnswer (empty: the user cancels).
    void askOpenFileName(const QString &title, const QString &,
                         std::function<void(const QString &path)> chosen) override
    {
        openRequests.append(title);
        chosen(openAnswer);
    }
    // Records the question and answers at once with questionAnswer.
    void askQuestion(const QString &text, std::function<void(bool yes)> answered) override
    {
        questions.append(text);
        answered(questionAnswer);
    }
    struct SaveRequest {
        QString title;
        QString defaultSuffix;
        QString proposedName;
    };
    QStringList errors;
    QStringList messages;
    QList<SaveRequest> saveRequests;
    QString saveAnswer;
    QStringList openRequests;
    QString openAnswer;
    QStringList questions;
    bool questionAnswer = false;
};

// The simulator's instrument with a current software version and no line pacing.
r310::sim::Scenario FastScenario(std::uint16_t softwareVersion = 221);
// The same with decimal exponent -2: limits 10.00 to 30.00, range end 300.00,
// calibration gas 50.00, so the fields take and show two decimals.
r310::sim::Scenario ExponentMinusTwoScenario();

// Types into the field as the user does, replacing its text.
void Type(QLineEdit *edit, const QString &text);

// Each field shows its text; a field that differs is named.
void ExpectTexts(std::initializer_list<std::pair<const QLineEdit *, const char *>> expected);
// Each widget is enabled (or not); a widget that differs is named.
void ExpectEnabled(std::initializer_list<const QWidget *> widgets, bool enabled);

// The names of the frames ("R4", "W4", "A4"), of the first `count` only when given.
Names FrameNames(const std::vector<LineFrame> &frames, std::size_t count = static_cast<std::size_t>(-1));
// The requests among the frames, by name.
Names RequestNames(const std::vector<LineFrame> &frames);
// The first frame of that name, if any.
std::optional<LineFrame> First(const std::vector<LineFrame> &frames, const std::string &name);

// A frame as a test expects it: its name, and its payload where given.
struct Frame {
    std::string name;
    std::optional<Bytes> payload = std::nullopt;
};
// The first frames carry these names, in this order, and these payloads where given.
void ExpectFrames(const std::vector<LineFrame> &frames, const std::vector<Frame> &expected);
// The frame of that name is among the frames and carries these bytes at these offsets.
void ExpectBytesOf(const std::vector<LineFrame> &frames, const std::string &name,
                   std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes);
// The frame of that name is among the frames and carries this payload.
void ExpectPayloadOf(const std::vector<LineFrame> &frames, const std::string &name, const Bytes &payload);

// No error, no message and no save dialog came up.
void ExpectNothingSaid(const RecordingDialogs &dialogs);
// Writes the file whole; false when it cannot.
bool WriteFile(const QString &path, const QByteArray &bytes);

struct RigOptions {
    r310::sim::Scenario scenario = FastScenario();
    // Replaces the simulated instrument's generated event log.
    std::optional<std::vector<r310::sim::EventRecord>> events;
    // The rig's line keeps the instrument's answers too.
    bool recordAnswers = false;
    // The line the rig records on; empty: a line of its own.
    std::shared_ptr<r310test::Line> line;
    QStringList arguments{QStringLiteral("R310Conf"), QStringLiteral("--port"), QStringLiteral("sim")};
    std::chrono::milliseconds tick = 10ms;
    bool idlePoll = true;
    QString picturePath;
    // Replaces the simulated instrument's link (e.g. a port that cannot open).
    r310::SerialPort::BackendFactory link;
    // The system's ports as read anew; empty: the list keeps its first filling.
    std::function<QList<r310::SerialPortDescription>()> listPorts;
    // The user's regional settings and the gas table; empty: "unit%1 gas%2".
    QLocale locale = QLocale::c();
    r310::GasTextLookup gasTexts;
    // The gas table the window names gases and units with; null: none (and
    // gasTexts as above).
    const r310::GasTable *gasTable = nullptr;
    // Where the window keeps its service records; none by default.
    r310::records::RecordsChoice records;
};

// The window on a real serial port (the simulator program's pseudo-terminal)
// with the product's tick, in German regional settings, gases named by `table`.
RigOptions SerialPortInGerman(const QString &device, const r310::GasTable &table);

// The gas table library of this build, beside r310ctl; null when it is missing.
std::unique_ptr<r310::GasTable> BuildGasTable();
// The file r310ctl of this build writes with `command --out FILE` from the
// instrument on `device`, run in German regional settings with its per-user
// files and the file in `folder`; a run that fails is named.
QByteArray R310ctlFileInGerman(const QString &device, const char *command, const QString &folder);

class WindowRig {
public:
    explicit WindowRig(RigOptions options = {});
    ~WindowRig();

    r310::ui::TFo_R310 &window() { return *window_; }
    const r310::ui::MainWidgets &w() const { return window_->widgets(); }

    // "&Open Port", then waits for the connect sequence and every job to end.
    bool Connect();
    // Connects, then brings the tab to the front and waits for its reads.
    bool ConnectOn(r310::InstrumentTab tab) { return Connect() && ShowTab(tab); }
    // Waits until no job runs or waits.
    bool Idle();
    // Brings a tab to the front as a click on it would, and waits for its reads.
    bool ShowTab(r310::InstrumentTab tab);
    // "Close Comport", then waits until the port is closed and every job has ended.
    bool ClosePort();
    // Waits until the port is closed and every job has ended.
    bool PortClosed();
    // Runs the action, waits until no job runs, and returns the frames the
    // instrument saw meanwhile.
    std::vector<LineFrame> During(const std::function<void()> &action);
    // A key pressed through the window system, so accelerators and shortcuts
    // apply; a button pressed by its accelerator clicks 100 ms later.
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers);

    // The requests the instrument heard from frame `from` on, by name ("C1", "R3", "W3").
    std::vector<std::string> heard(std::size_t from = 0) const { return RequestNames(line->since(from)); }
    // The port value in the per-user store.
    QString rememberedPort() const;

    RecordingDialogs dialogs;
    // Every frame with its payload, as the simulated instrument saw it (not
    // filled when RigOptions::link replaces the instrument).
    std::shared_ptr<r310test::Line> line = std::make_shared<r310test::Line>();

private:
    QTemporaryDir directory_;
    std::unique_ptr<r310::ui::TFo_R310> window_;
};

} // namespace uitest
