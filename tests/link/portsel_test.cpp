// Port discovery and connection: the port list with its preselection, the
// remembered port, the command-line switches and the open and close buttons.
#include "SerialPort.h"
#include "ComPortSel.h"
#include "LinkTestSupport.h"
#include "PortOptions.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace r310;
using namespace linktest;

namespace {

SerialPortDescription Plain(const QString &name) { return {name, false, 0, 0}; }
SerialPortDescription Usb(const QString &name, quint16 vendor, quint16 product)
{
    return {name, true, vendor, product};
}
SerialPortDescription Adapter(const QString &name) { return Usb(name, 0x0403, 0xD189); }

class PortSelection : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }

    std::unique_ptr<QSettings> Store() const
    {
        return std::make_unique<QSettings>(dir.filePath(QStringLiteral("Lumo.ini")), QSettings::IniFormat);
    }
    void Remember(const QVariant &value) const
    {
        auto settings = Store();
        settings->setValue(QStringLiteral("Port"), value);
    }
    PortChoice Prepare(PortNaming naming, const QList<SerialPortDescription> &ports,
                       const QString &commandLine = {}) const
    {
        ComPortSel selection(Store(), naming);
        return selection.PreparePortList(ports, commandLine);
    }

    QTemporaryDir dir;
};

TEST_F(PortSelection, ListStartsWithNoneAndTheAdapterIsFoundByItsUsbIds)
{
    QStringList list{QStringLiteral("stale")};
    const QList<SerialPortDescription> ports{Plain("COM1"), Usb("COM3", 0x0403, 0x6001), Adapter("COM4")};

    EXPECT_EQ(FindAdapterPort(list, ports), 3);
    EXPECT_EQ(list, (QStringList{"<none>", "COM1", "COM3", "COM4"}));

    EXPECT_EQ(FindAdapterPort(list, {Adapter("ttyUSB0"), Plain("ttyS0"), Adapter("ttyUSB1")}), 3)
        << "with two adapters the last one wins";
    EXPECT_EQ(FindAdapterPort(list, {Plain("COM1")}), -1);
    EXPECT_EQ(FindAdapterPort(list, {}), -1);
    EXPECT_EQ(list, QStringList{"<none>"});
}

TEST_F(PortSelection, WindowsRememberedComPortWinsOverTheAdapterWithoutRegardToCase)
{
    const QList<SerialPortDescription> ports{Plain("COM1"), Adapter("COM4")};
    PortChoice choice = Prepare(PortNaming::ComNumbers, ports);
    EXPECT_EQ(choice.entries, (QStringList{"<none>", "COM1", "COM4"}));
    EXPECT_EQ(choice.selected, 2);

    Remember("com1");
    EXPECT_EQ(Prepare(PortNaming::ComNumbers, ports).selected, 1);

    Remember("COM9");
    EXPECT_EQ(Prepare(PortNaming::ComNumbers, ports).selected, 2) << "not in the list: the adapter stays";
    Remember("ttyUSB0");
    EXPECT_EQ(Prepare(PortNaming::ComNumbers, {Plain("ttyUSB0"), Plain("COM2")}).selected, 0)
        << "only COM names are remembered on Windows";
}

TEST_F(PortSelection, DeviceNamesRememberedNameWinsAndTheCommandLineDeviceWinsOverAll)
{
    const QList<SerialPortDescription> ports{Adapter("ttyUSB0"), Plain("ttyACM0")};
    EXPECT_EQ(Prepare(PortNaming::DeviceNames, ports).selected, 1);
    EXPECT_EQ(Prepare(PortNaming::DeviceNames, {Plain("ttyS0")}).selected, 0);

    Remember("ttyACM0");
    EXPECT_EQ(Prepare(PortNaming::DeviceNames, ports).selected, 2);
    Remember("TTYACM0");
    EXPECT_EQ(Prepare(PortNaming::DeviceNames, ports).selected, 1) << "device names are exact";

    const PortChoice pty = Prepare(PortNaming::DeviceNames, ports, "/dev/pts/7");
    EXPECT_EQ(pty.entries, (QStringList{"<none>", "ttyUSB0", "ttyACM0", "/dev/pts/7"}));
    EXPECT_EQ(pty.selected, 3);
    const PortChoice listed = Prepare(PortNaming::DeviceNames, ports, "ttyACM0");
    EXPECT_EQ(listed.entries.size(), 3) << "a listed device is not added twice";
    EXPECT_EQ(listed.selected, 2);
}

TEST_F(PortSelection, RememberedValueOfAnotherTypeIsIgnored)
{
    Remember(QVariant::fromValue(QStringList{"COM1", "COM2"}));
    ComPortSel selection(Store(), PortNaming::ComNumbers);
    const PortChoice choice = selection.PreparePortList({Plain("COM1"), Adapter("COM4")});
    EXPECT_EQ(choice.selected, 2);
    EXPECT_TRUE(selection.SavedPort().isEmpty());
}

// The open and close buttons over an in-memory device.
class OpenAndClose : public PortSelection {
protected:
    OpenAndClose()
        : port([this](const QString &name, const LineSettings &line) {
              opened.append(name);
              openedLine = line;
              auto device = std::make_unique<MemoryDevice>();
              device->refuseOpen = refuse;
              device->error = QStringLiteral("Serial port %1 does not exist").arg(name);
              return device;
          })
    {
    }

    SerialPort port;
    QStringList opened;
    LineSettings openedLine;
    bool refuse = false;

    // "&Open Port" as the front ends run it: the entry's device, opened with
    // 9600 8N1, then remembered.
    ComPortSel::OpenResult Open(ComPortSel &selection, int selectedIndex, const QString &entryText)
    {
        QString portName;
        const ComPortSel::OpenResult result = selection.PortToOpen(selectedIndex, entryText, &portName);
        if (result == ComPortSel::OpenResult::Opened) {
            selection.OpenPort(port, portName);
            selection.RememberPort(entryText);
        }
        return result;
    }
};

TEST_F(OpenAndClose, NoneSelectedDoesNothingAtAll)
{
    ComPortSel selection(Store(), PortNaming::ComNumbers);
    EXPECT_EQ(Open(selection, 0, kNoPortEntry), ComPortSel::OpenResult::NothingSelected);
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_FALSE(Store()->contains("Port"));
}

TEST_F(OpenAndClose, ComEntriesOpenByTheNumberInCharactersFourToSix)
{
    ComPortSel selection(Store(), PortNaming::ComNumbers);
    port.SetBaud(19200);
    EXPECT_EQ(Open(selection, 1, "COM12"), ComPortSel::OpenResult::Opened);
    port.SetOpen(false);
    EXPECT_EQ(Open(selection, 2, "COM1234"), ComPortSel::OpenResult::Opened);
    port.SetOpen(false);
    EXPECT_EQ(opened, (QStringList{"COM12", "COM123"}));
    EXPECT_EQ(openedLine.Baud, 9600) << "line settings are set again before each open";
    EXPECT_EQ(openedLine.DataBits, QSerialPort::Data8);
    EXPECT_EQ(openedLine.Parity, QSerialPort::NoParity);
    EXPECT_EQ(openedLine.StopBits, QSerialPort::OneStop);

    EXPECT_EQ(Open(selection, 3, "COMX"), ComPortSel::OpenResult::InvalidEntry);
    EXPECT_EQ(Open(selection, 3, "COM"), ComPortSel::OpenResult::InvalidEntry);
    EXPECT_EQ(opened.size(), 2);
}

TEST_F(OpenAndClose, OpenedPortIsRememberedAndPreselectedAtTheNextStart)
{
    {
        ComPortSel selection(Store(), PortNaming::DeviceNames);
        selection.PreparePortList({Plain("ttyS0"), Adapter("ttyUSB0")});
        EXPECT_EQ(Open(selection, 1, "ttyS0"), ComPortSel::OpenResult::Opened);
        EXPECT_TRUE(port.Open());
        EXPECT_EQ(selection.SavedPort(), "ttyS0");
    }
    EXPECT_EQ(Store()->value("Port").toString(), "ttyS0");
    EXPECT_EQ(Prepare(PortNaming::DeviceNames, {Plain("ttyS0"), Adapter("ttyUSB0")}).selected, 1);
}

TEST_F(OpenAndClose, PortThatCannotBeOpenedRaisesAndIsNotRemembered)
{
    Remember("ttyS0");
    refuse = true;
    ComPortSel selection(Store(), PortNaming::DeviceNames);
    selection.PreparePortList({Plain("ttyS0"), Plain("ttyUSB3")});
    try {
        Open(selection, 2, "ttyUSB3");
        FAIL() << "no error raised";
    } catch (const PortError &error) {
        EXPECT_EQ(error.message(), "Serial port ttyUSB3 does not exist");
    }
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(selection.SavedPort(), "ttyS0");
    EXPECT_EQ(Store()->value("Port").toString(), "ttyS0");
}

TEST_F(OpenAndClose, UnwritableStoreIsReportedToTheCallerButTheConnectionGoesOn)
{
    ComPortSel selection(std::make_unique<QSettings>(QStringLiteral("/proc/r310/none/Lumo.ini"),
                                                     QSettings::IniFormat),
                         PortNaming::DeviceNames);
    EXPECT_EQ(Open(selection, 1, "ttyUSB0"), ComPortSel::OpenResult::Opened);
    EXPECT_TRUE(port.Open());
    EXPECT_FALSE(selection.SavePortSetting());
}

TEST(CommandLine, FactorySwitchIsTheFirstArgumentInAnyCase)
{
    EXPECT_TRUE(FactorySetupRequested({"R310Conf", "/PR"}));
    EXPECT_TRUE(FactorySetupRequested({"R310Conf", "/pr", "--port", "/dev/pts/3"}));
    EXPECT_FALSE(FactorySetupRequested({"R310Conf"}));
    EXPECT_FALSE(FactorySetupRequested({"R310Conf", "/prx"}));
    EXPECT_FALSE(FactorySetupRequested({"R310Conf", "--port", "/pr"}));
}

TEST(CommandLine, PortOptionTakesTheNextArgumentOrItsOwnValue)
{
    EXPECT_EQ(CommandLinePort({"R310Conf", "--port", "/dev/pts/7"}), "/dev/pts/7");
    EXPECT_EQ(CommandLinePort({"R310Conf", "/pr", "--port=/dev/pts/8"}), "/dev/pts/8");
    EXPECT_EQ(CommandLinePort({"R310Conf", "--port"}), "");
    EXPECT_EQ(CommandLinePort({"--port", "x"}), "") << "the program name is not an option";
}

} // namespace
