#pragma once
// Line settings of a serial port: the instrument talks 9600 baud, 8 data bits,
// no parity, 1 stop bit, without flow control.
#include <QSerialPort>

namespace r310 {

struct LineSettings {
    qint32 Baud = 9600;
    QSerialPort::DataBits DataBits = QSerialPort::Data8;
    QSerialPort::StopBits StopBits = QSerialPort::OneStop;
    QSerialPort::Parity Parity = QSerialPort::NoParity;
};

// Time one character takes on the line: start bit, data bits, parity, stop bits.
double CharacterSeconds(const LineSettings &settings);

} // namespace r310
