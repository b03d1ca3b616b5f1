#include "UiRig.h"

#include <CliProcess.h>

#include <BuildPrograms.h>
#include <GasTable.h>
#include <QSerialPortBackend.h>

#include <QApplication>
#include <QFileInfo>

#include <cstdlib>

namespace uitest {

using namespace r310;

void EnsureWidgetApplication()
{
    // Made by RunWidgetTests, so it ends before the toolkit's own globals.
    if (!QApplication::instance())
        std::abort();
}

int RunWidgetTests(int argc, char **argv)
{
    const QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

sim::Scenario FastScenario(std::uint16_t softwareVersion)
{
    sim::Scenario scenario;
    scenario.pacing = false;
    scenario.softwareVersion = softwareVersion;
    return scenario;
}

sim::Scenario ExponentMinusTwoScenario()
{
    sim::Scenario scenario = FastScenario(221);
    scenario.exponent = -2;
    scenario.rangeEnd = 30000;
    scenario.thresholds = {1000, 2000, 3000, 1500, 500};
    scenario.calibrationGas = 5000;
    return scenario;
}

void Type(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

void ExpectTexts(std::initializer_list<std::pair<const QLineEdit *, const char *>> expected)
{
    for (const auto &[field, text] : expected)
        EXPECT_EQ(field->text(), QString::fromUtf8(text)) << field->objectName().toStdString();
}

void ExpectEnabled(std::initializer_list<const QWidget *> widgets, bool enabled)
{
    for (const QWidget *widget : widgets)
        EXPECT_EQ(widget->isEnabled(), enabled) << widget->objectName().toStdString();
}

std::vector<std::string> FrameNames(const std::vector<r310test::LineFrame> &frames, std::size_t count)
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < frames.size() && i < count; ++i)
        names.push_back(frames[i].name());
    return names;
}

std::vector<std::string> RequestNames(const std::vector<r310test::LineFrame> &frames)
{
    return FrameNames(r310test::Requests(frames));
}

std::optional<r310test::LineFrame> First(const std::vector<r310test::LineFrame> &frames, const std::string &name)
{
    for (const r310test::LineFrame &f : frames) {
        if (f.name() == name)
            return f;
    }
    return std::nullopt;
}

void ExpectFrames(const std::vector<LineFrame> &frames, const std::vector<Frame> &expected)
{
    Names names;
    for (const Frame &f : expected)
        names.push_back(f.name);
    ASSERT_EQ(FrameNames(frames, expected.size()), names);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i].payload) {
            EXPECT_EQ(frames[i].payload, *expected[i].payload) << "frame " << i << ", " << expected[i].name;
        }
    }
}

void ExpectBytesOf(const std::vector<LineFrame> &frames, const std::string &name,
                   std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes)
{
    const std::optional<LineFrame> frame = First(frames, name);
    ASSERT_TRUE(frame) << name;
    for (const auto &[offset, value] : bytes) {
        ASSERT_LT(offset, frame->payload.size()) << name;
        EXPECT_EQ(frame->payload[offset], value) << name << " byte " << offset;
    }
}

void ExpectPayloadOf(const std::vector<LineFrame> &frames, const std::string &name, const Bytes &payload)
{
    const std::optional<LineFrame> frame = First(frames, name);
    ASSERT_TRUE(frame) << name;
    EXPECT_EQ(frame->payload, payload) << name;
}

void ExpectNothingSaid(const RecordingDialogs &dialogs)
{
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(u'|').toStdString();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(u'|').toStdString();
    EXPECT_TRUE(dialogs.saveRequests.isEmpty());
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

namespace {

SerialPort::BackendFactory SimulatedInstrument(const RigOptions &options, std::shared_ptr<r310test::Line> line)
{
    // Made on the connection's engine thread at each open.
    return [scenario = options.scenario, events = options.events, answers = options.recordAnswers,
            line](const QString &, const LineSettings &) -> std::unique_ptr<SerialBackend> {
        auto link = std::make_unique<sim::SimBackend>(scenario);
        link->setPacing(scenario.pacing);
        if (events) {
            sim::EventLog &eventLog = link->device().state().events;
            eventLog.records = *events;
            eventLog.position = static_cast<std::uint16_t>(events->size());
        }
        link->device().setTrace([line, answers](const sim::TraceEntry &entry) { line->record(entry, answers); });
        line->backend = link.get();
        return link;
    };
}

} // namespace

RigOptions SerialPortInGerman(const QString &device, const GasTable &table)
{
    RigOptions options;
    options.arguments = {QStringLiteral("R310Conf"), QStringLiteral("--port"), device};
    options.tick = 100ms;
    options.idlePoll = false;
    options.locale = QLocale(QLocale::German, QLocale::Germany);
    options.gasTexts = [&table](std::uint8_t unit, std::uint8_t gas) { return table.GasTexts(unit, gas); };
    options.link = [](const QString &name, const LineSettings &line) -> std::unique_ptr<SerialBackend> {
        return std::make_unique<QSerialPortBackend>(name, line);
    };
    return options;
}

std::unique_ptr<GasTable> BuildGasTable()
{
    return GasTable::Load({QFileInfo(r310test::BuildProgram(QStringLiteral("r310ctl"))).absolutePath()});
}

QByteArray R310ctlFileInGerman(const QString &device, const char *command, const QString &folder)
{
    const QString file = QDir(folder).filePath(QStringLiteral("r310ctl.csv"));
    const QStringList arguments{QStringLiteral("--port"), device, QString::fromLatin1(command),
                                QStringLiteral("--out"), file};
    const clitest::CtlRun run = clitest::RunProgram(clitest::CtlProgram(), arguments,
                                                    clitest::CtlEnvironment(folder, QStringLiteral("de_DE.UTF-8")),
                                                    std::chrono::seconds(60));
    EXPECT_TRUE(run.finished) << command;
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    return r310test::ReadAll(file);
}

WindowRig::WindowRig(RigOptions options)
{
    EnsureWidgetApplication();
    if (options.line)
        line = options.line;
    ui::WindowSetup setup;
    setup.arguments = options.arguments;
    setup.portSettings =
        std::make_unique<QSettings>(directory_.filePath(QStringLiteral("user.ini")), QSettings::IniFormat);
    setup.naming = PortNaming::DeviceNames;
    setup.connection.link = options.link ? options.link : SimulatedInstrument(options, line);
    setup.connection.tick = options.tick;
    setup.connection.idlePoll = options.idlePoll;
    setup.connection.decoding.locale = options.locale;
    setup.connection.decoding.gasTexts = options.gasTexts ? options.gasTexts : [](std::uint8_t unit, std::uint8_t gas) {
        return QStringLiteral("unit%1 gas%2").arg(unit).arg(gas);
    };
    if (const GasTable *table = options.gasTable) {
        setup.gasTable = table;
        if (!options.gasTexts)
            setup.connection.decoding.gasTexts = [table](std::uint8_t unit, std::uint8_t gas) {
                return table->GasTexts(unit, gas);
            };
    }
    setup.dialogs = &dialogs;
    setup.listPorts = options.listPorts;
    setup.picturePath = options.picturePath;
    setup.records = options.records;
    window_ = std::make_unique<ui::TFo_R310>(std::move(setup));
    window_->show();
}

WindowRig::~WindowRig() = default;

bool WindowRig::Connect()
{
    window_->OpenPort();
    return SpinUntil([this] {
        const InstrumentConnection *connection = window_->connection();
        return connection && connection->phase() == ConnectionPhase::Connected && !connection->busy();
    }, 10s);
}

bool WindowRig::Idle()
{
    return SpinUntil([this] { return !window_->connection() || !window_->connection()->busy(); }, 10s);
}

bool WindowRig::ShowTab(InstrumentTab tab)
{
    const int index = window_->IndexOf(tab);
    if (!window_->tabGuard().requestTab(index) && w().PageControl1->currentIndex() != index)
        return false;
    return Idle();
}

bool WindowRig::ClosePort()
{
    w().control.Button_ClosePort->click();
    return PortClosed();
}

bool WindowRig::PortClosed()
{
    return SpinUntil([this] { return !window_->connection()->portOpen() && Idle(); }, 5s);
}

std::vector<LineFrame> WindowRig::During(const std::function<void()> &action)
{
    const std::size_t before = line->size();
    action();
    EXPECT_TRUE(Idle());
    return line->since(before);
}

void WindowRig::Press(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(window_->windowHandle(), key, modifiers);
    SpinFor(150ms);
}

QString WindowRig::rememberedPort() const
{
    return QSettings(directory_.filePath(QStringLiteral("user.ini")), QSettings::IniFormat)
        .value(QStringLiteral("Port"))
        .toString();
}

} // namespace uitest
