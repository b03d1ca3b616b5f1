#include "DecodedValues.h"

namespace r310 {

const std::array<const char *, 4> kSignalModeItems = {"Off", "Soft", "Louder", "Optical"};
const std::array<const char *, 4> kVibratorModeItems = {"Off", "Short", "Moderate", "Long"};
const std::array<const char *, 4> kWakeUpModeItems = {"Alarm", "Quick or Alarm", "Middle or Alarm",
                                                      "Slow or Alarm"};
const std::array<const char *, 4> kDateFormatItems = {"TT.MM.JJJJ", "MM/DD/YY", "DD/MM/YY",
                                                      "YY-MM-DD"};

StatusBackground NextBackground(StatusBackground current, StatusBackground requested)
{
    if (requested != StatusBackground::Blink)
        return requested;
    return current == StatusBackground::Window ? StatusBackground::Yellow : StatusBackground::Window;
}

AlarmFlags AlarmFlags::FromByte(std::uint8_t byte)
{
    AlarmFlags flags;
    flags.fallBelow = (byte & 0x01) != 0;
    flags.latching = (byte & 0x02) != 0;
    flags.hornMayBeSilenced = (byte & 0x04) != 0;
    return flags;
}

std::uint8_t AlarmFlags::toByte() const
{
    return static_cast<std::uint8_t>((fallBelow ? 0x01 : 0) | (latching ? 0x02 : 0) |
                                     (hornMayBeSilenced ? 0x04 : 0));
}

} // namespace r310
