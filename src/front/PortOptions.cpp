#include "PortOptions.h"

namespace r310 {

namespace {

const QString kPortOption = QStringLiteral("--port");

} // namespace

std::unique_ptr<QSettings> UserPortSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Vyk"), QStringLiteral("Lumo"));
}

bool FactorySetupRequested(const QStringList &arguments)
{
    return arguments.size() > 1 && arguments.at(1).toLower() == QLatin1String("/pr");
}

QString CommandLinePort(const QStringList &arguments)
{
    const QString withValue = kPortOption + QLatin1Char('=');
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == kPortOption && i + 1 < arguments.size())
            return arguments.at(i + 1);
        if (argument.startsWith(withValue))
            return argument.mid(withValue.size());
    }
    return {};
}

} // namespace r310
