#pragma once
// Answer frames as they arrive on the serial line (hex, CRC included), and
// functions that feed them through the receive assembler like the link does.
#include "DecodeAnswer.h"
#include "R310_typ.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace fixtures {

using Bytes = std::vector<std::uint8_t>;

// Serial 1234, MK type 12345, MK serial 4711, version 2.10, customer "WERK-07", battery 85 %.
inline const char *const kIdentity =
    "56 59 4B 34 02 C0 15 D2 04 00 00 39 30 67 12 D2 00 57 45 52 4B 2D 30 37 00 00 00 55 5A AB";
// The same identity with flags 0x80: an answer that carries no object data.
inline const char *const kIdentityFlags80 =
    "56 59 4B 34 02 80 15 D2 04 00 00 39 30 67 12 D2 00 57 45 52 4B 2D 30 37 00 00 00 55 9B 73";
// Clock at 2000-01-01 00:00:00 (631152000 s).
inline const char *const kClock = "56 59 4B 34 03 C0 04 80 9D 9E 25 A2 85";
// Range 0..5000, gas 1, unit 0, exponent -1; A1 300, A2 600, A3 1000, STEL 350,
// TWA 200; options 05 02 06 F8 00; calibration gas 1000; U-ZP -1234, U-FS 4567.
inline const char *const kRange =
    "56 59 4B 34 04 C0 1D 00 00 00 88 13 01 00 FF 2C 01 58 02 E8 03 5E 01 C8 00 05 02 06 F8 00 "
    "E8 03 2E FB D7 11 4B 4D";
// Measured value, raw 1234.
inline const char *const kValue = "56 59 4B 34 07 C0 02 D2 04 EA 8F";
// Signals: modes E4, bleep 30 s, display 59, next bump day 366, next calibration
// day 0, bump interval 30, calibration interval -5, bump options 07.
inline const char *const kSignals =
    "56 59 4B 34 1F C0 10 E4 1E 59 6E 01 00 00 1E 00 FB FF 07 00 00 00 00 6C AB";
// Hardware: zero point -125, gain 1234, reference 12500, options A6.
inline const char *const kHardware = "56 59 4B 34 21 C0 0A 00 83 FF D2 04 D4 30 A6 00 00 3C A1";
// The instrument's error report.
inline const char *const kErrorReport = "56 59 4B 34 F0 C0 04 01 02 03 04 F0 EF";
// Calibration state 0 (running).
inline const char *const kCalibrationRunning = "56 59 4B 34 0A C0 01 00 EA FD";
// Bump test result A1 12, A2 34, T50 56.
inline const char *const kBumpResult = "56 59 4B 34 06 C0 06 0C 00 22 00 38 00 2A C4";

inline Bytes Hex(const std::string &text)
{
    Bytes bytes;
    std::istringstream in(text);
    std::string token;
    while (in >> token)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
    return bytes;
}

// Feeds a whole frame through the assembler; the last byte must complete a good frame.
inline r310::ReceiveBuffer Received(const Bytes &frame)
{
    r310::ReceiveBuffer buffer;
    std::int32_t status = 0;
    for (std::uint8_t b : frame)
        status = r310::AssembleByte(b, buffer);
    EXPECT_EQ(status, r310::kAssembleGood) << "fixture frame is not a good answer";
    return buffer;
}

inline r310::ReceiveBuffer Received(const char *hex)
{
    return Received(Hex(hex));
}

// A data answer built on the spot, for tables of cases.
inline r310::ReceiveBuffer Answer(std::uint8_t object, const Bytes &payload, std::uint8_t flags = 0xC0)
{
    return Received(r310::EncodeFrame(object, flags, payload));
}

inline void PutU16(Bytes &b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// The payload of a frame given in hex: what follows the header, without the CRC.
inline Bytes PayloadOf(const char *hex)
{
    const Bytes frame = Hex(hex);
    return Bytes(frame.begin() + 7, frame.end() - 2);
}

inline const QLocale kGerman(QLocale::German, QLocale::Germany);
inline const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

// A decoder in `locale` whose PC clock stands at 2024-03-05 14:07:09 and whose
// gas table names unit u and gas g "U<u> G<g>".
inline r310::AnswerDecoder Decoder(const QLocale &locale = kGerman)
{
    r310::DecodeEnvironment env;
    env.locale = locale;
    env.now = [] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)); };
    env.gasTexts = [](std::uint8_t unit, std::uint8_t gas) { return QStringLiteral("U%1 G%2").arg(unit).arg(gas); };
    return r310::AnswerDecoder(env);
}

} // namespace fixtures
