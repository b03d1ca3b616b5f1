#pragma once
// The port as the front ends take it from the user: the per-user remembered
// port and the window's command-line switches.
#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>

namespace r310 {

// The per-user store of the remembered port: organisation "Vyk", application
// "Lumo" (on Windows HKEY_CURRENT_USER\Software\Vyk\Lumo), value "Port".
std::unique_ptr<QSettings> UserPortSettings();

// The first argument after the program name is "/pr" in any case: the factory
// "Setup" button is shown. arguments include the program name.
bool FactorySetupRequested(const QStringList &arguments);
// The device given as "--port DEVICE" or "--port=DEVICE", or empty.
QString CommandLinePort(const QStringList &arguments);

} // namespace r310
