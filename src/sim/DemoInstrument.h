#pragma once
// The built-in simulated instrument of --demo, for the window and r310ctl:
// the simulator behind the serial port service, with the newest software
// version the configurator knows so every tab and option has something to show.
#include <SerialPort.h>

namespace r310 {

// paced: answers arrive as on a real 9600-baud line; unpaced at once.
SerialPort::BackendFactory DemoInstrumentLink(bool paced = true);

} // namespace r310
