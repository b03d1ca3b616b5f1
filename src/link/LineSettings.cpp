#include "LineSettings.h"

namespace r310 {

double CharacterSeconds(const LineSettings &settings)
{
    const double parityBits = settings.Parity == QSerialPort::NoParity ? 0.0 : 1.0;
    double stopBits = 1.0;
    if (settings.StopBits == QSerialPort::TwoStop)
        stopBits = 2.0;
    else if (settings.StopBits == QSerialPort::OneAndHalfStop)
        stopBits = 1.5;
    const double bits = 1.0 + settings.DataBits + parityBits + stopBits;
    return bits / (settings.Baud > 0 ? settings.Baud : 1);
}

} // namespace r310
