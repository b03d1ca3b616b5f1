// r310ctl ports: the serial ports as the configurator's port list shows them.
#include "ComPortSel.h"
#include "ExitCodes.h"
#include "PortOptions.h"
#include "Subcommands.h"
#include "cmd_doctor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace r310::cli {

namespace {

QString UsbIds(const SerialPortDescription &port)
{
    return QStringLiteral("%1:%2")
        .arg(port.vendorId, 4, 16, QLatin1Char('0'))
        .arg(port.productId, 4, 16, QLatin1Char('0'))
        .toUpper();
}

bool IsAdapter(const SerialPortDescription &port)
{
    return port.hasUsbIds && port.vendorId == kAdapterVendorId && port.productId == kAdapterProductId;
}

} // namespace

int RunPorts(CtlContext &context)
{
    const QList<SerialPortDescription> ports = SystemSerialPorts();
    ComPortSel selection(UserPortSettings());
    const PortChoice choice = selection.PreparePortList(ports);
    QStringList adapterList;
    const int adapter = FindAdapterPort(adapterList, ports);
    const QString &remembered = selection.SavedPort();
    const auto isRemembered = [&](const QString &name) {
        return !remembered.isEmpty()
            && name.compare(remembered, kHostPortNaming == PortNaming::ComNumbers ? Qt::CaseInsensitive
                                                                                   : Qt::CaseSensitive) == 0;
    };

    if (context.options.json) {
        QJsonArray list;
        for (int i = 0; i < ports.size(); ++i) {
            const SerialPortDescription &port = ports.at(i);
            QJsonObject entry{
                {QStringLiteral("name"), port.name},
                {QStringLiteral("adapter"), i + 1 == adapter},
                {QStringLiteral("remembered"), isRemembered(port.name)},
                {QStringLiteral("preselected"), i + 1 == choice.selected},
            };
            if (port.hasUsbIds)
                entry.insert(QStringLiteral("usb"), UsbIds(port));
            list.append(entry);
        }
        const QJsonObject document{
            {QStringLiteral("ports"), list},
            {QStringLiteral("rememberedPort"), remembered},
            {QStringLiteral("preselectedPort"), choice.selected > 0 ? choice.entries.at(choice.selected) : QString()},
        };
        context.out() << QJsonDocument(document).toJson(QJsonDocument::Indented);
        return kExitOk;
    }

    if (ports.isEmpty())
        context.out() << "No serial ports found.\n";
    int width = 4;
    for (const SerialPortDescription &port : ports)
        width = std::max(width, static_cast<int>(port.name.size()));
    for (int i = 0; i < ports.size(); ++i) {
        const SerialPortDescription &port = ports.at(i);
        QStringList notes;
        if (i + 1 == adapter || IsAdapter(port))
            notes << QStringLiteral("instrument adapter (USB 0403:D189)");
        else if (port.hasUsbIds)
            notes << QStringLiteral("USB %1").arg(UsbIds(port));
        if (isRemembered(port.name))
            notes << QStringLiteral("remembered");
        const QString mark = i + 1 == choice.selected ? QStringLiteral("* ") : QStringLiteral("  ");
        if (notes.isEmpty())
            context.out() << mark << port.name << '\n';
        else
            context.out() << mark << port.name.leftJustified(width) << "  " << notes.join(QStringLiteral(", ")) << '\n';
    }
    if (choice.selected > 0)
        context.out() << "\n* preselected: the port r310ctl and the configurator use without --port\n";
    if (!remembered.isEmpty() && !std::any_of(ports.begin(), ports.end(), [&](const SerialPortDescription &p) {
            return isRemembered(p.name);
        }))
        context.out() << "Remembered port " << remembered << " is not present.\n";
    // An adapter without a port of its own: the driver, the udev rule or the node is missing.
    const bool adapterPortListed =
        adapter > 0 || std::any_of(ports.begin(), ports.end(), [](const SerialPortDescription &p) { return IsAdapter(p); });
    const QString hint = AdapterWithoutPortHint(FindUsbAdapters(LocalSystem()), adapterPortListed);
    if (!hint.isEmpty())
        context.out() << '\n' << hint << '\n';
    return kExitOk;
}

} // namespace r310::cli
