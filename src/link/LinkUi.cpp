#include "LinkUi.h"

#include "ApdComPort.h"

namespace r310 {

LinkUi::~LinkUi() = default;

bool RunCommand(LinkUi &ui, const std::function<void()> &command)
{
    try {
        command();
        return true;
    } catch (const PortError &error) {
        ui.showError(error.message() + QLatin1Char('.'));
        return false;
    }
}

} // namespace r310
