#include "ComPortSel.h"

#include "SerialPort.h"

#include <QSerialPortInfo>

namespace r310 {

namespace {

const QString kPortKey = QStringLiteral("Port");
const QString kComPrefix = QStringLiteral("COM");

// Windows entries name the port number in characters 4 to 6 (COM12 is 12,
// COM1234 is 123).
constexpr int kComNumberFrom = 3;
constexpr int kComNumberDigits = 3;

} // namespace

QList<SerialPortDescription> SystemSerialPorts()
{
    QList<SerialPortDescription> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        SerialPortDescription port;
        port.name = info.portName();
        port.hasUsbIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        port.vendorId = info.vendorIdentifier();
        port.productId = info.productIdentifier();
        ports.append(port);
    }
    return ports;
}

void ListSerialPorts(QStringList &list, const QList<SerialPortDescription> &ports)
{
    list.clear();
    list.append(kNoPortEntry);
    for (const SerialPortDescription &port : ports)
        list.append(port.name);
}

int FindAdapterPort(QStringList &list, const QList<SerialPortDescription> &ports,
                    quint16 vendorId, quint16 productId)
{
    QString adapterPort;
    for (const SerialPortDescription &port : ports) {
        if (port.hasUsbIds && port.vendorId == vendorId && port.productId == productId)
            adapterPort = port.name;
    }
    ListSerialPorts(list, ports);
    int index = -1;
    if (adapterPort.isEmpty())
        return index;
    for (int i = 0; i < list.size(); ++i) {
        if (list.at(i).compare(adapterPort, Qt::CaseInsensitive) == 0)
            index = i;
    }
    return index;
}

ComPortSel::ComPortSel(std::unique_ptr<QSettings> settings, PortNaming naming)
    : settings_(std::move(settings)), naming_(naming)
{
}

ComPortSel::~ComPortSel() = default;

void ComPortSel::loadSavedPort()
{
    // A value of another type than text is treated as no remembered port:
    // the list is still preselected from the adapter and the start goes on.
    const QVariant value = settings_ ? settings_->value(kPortKey) : QVariant();
    savedPort_ = value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool ComPortSel::remembered(const QString &entry) const
{
    if (savedPort_.isEmpty())
        return false;
    if (naming_ == PortNaming::ComNumbers) {
        // Only COM names count, compared without regard to case.
        return savedPort_.startsWith(kComPrefix, Qt::CaseInsensitive)
            && entry.compare(savedPort_, Qt::CaseInsensitive) == 0;
    }
    return entry == savedPort_;
}

PortChoice ComPortSel::PreparePortList(const QList<SerialPortDescription> &ports,
                                       const QString &commandLinePort)
{
    loadSavedPort();
    PortChoice choice;
    choice.selected = std::max(FindAdapterPort(choice.entries, ports), 0);
    for (int i = 1; i < choice.entries.size(); ++i) {
        if (remembered(choice.entries.at(i)))
            choice.selected = i;
    }
    if (!commandLinePort.isEmpty()) {
        int index = choice.entries.indexOf(commandLinePort, 1);
        if (index < 0) {
            choice.entries.append(commandLinePort);
            index = choice.entries.size() - 1;
        }
        choice.selected = index;
    }
    return choice;
}

ComPortSel::OpenResult ComPortSel::PortToOpen(int selectedIndex, const QString &entryText,
                                               QString *portName) const
{
    if (selectedIndex <= 0)
        return OpenResult::NothingSelected;
    QString name = entryText;
    if (naming_ == PortNaming::ComNumbers) {
        bool ok = false;
        const int number = entryText.mid(kComNumberFrom, kComNumberDigits).toInt(&ok);
        if (!ok)
            return OpenResult::InvalidEntry;
        name = kComPrefix + QString::number(number);
    } else if (entryText.trimmed().isEmpty()) {
        return OpenResult::InvalidEntry;
    }
    if (portName)
        *portName = name;
    return OpenResult::Opened;
}

void ComPortSel::OpenPort(SerialPort &port, const QString &portName) const
{
    port.SetPortName(portName);
    const LineSettings line;
    port.SetBaud(line.Baud);
    port.SetDataBits(line.DataBits);
    port.SetStopBits(line.StopBits);
    port.SetParity(line.Parity);
    port.SetOpen(true);
}

void ComPortSel::RememberPort(const QString &entryText)
{
    savedPort_ = entryText;
    SavePortSetting();
}

bool ComPortSel::SavePortSetting()
{
    if (!settings_)
        return false;
    settings_->setValue(kPortKey, savedPort_);
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

} // namespace r310
