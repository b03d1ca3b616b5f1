#include "HardwareSettings.h"

#include "PayloadBytes.h"

namespace r310 {

namespace {

void PutI16(std::vector<std::uint8_t> &bytes, std::size_t offset, std::int16_t value)
{
    const auto word = static_cast<std::uint16_t>(value);
    bytes[offset] = static_cast<std::uint8_t>(word & 0xFF);
    bytes[offset + 1] = static_cast<std::uint8_t>(word >> 8);
}

const QString kCalibrationUnread =
    QStringLiteral("the instrument's zero point, gain and reference voltage could not be read; "
                   "the hardware settings were not written");

} // namespace

HardwareOptions HardwareOptions::FromDecoded(const HardwareSettings &h)
{
    HardwareOptions options;
    options.serviceOverKeyboard = h.serviceOverKeyboard;
    options.vibratorDisabled = h.vibratorDisabled;
    options.onlyTestKey = h.onlyTestKey;
    options.bestResolution = h.bestResolution;
    options.dataSafety = h.dataSafety;
    options.displayMode = h.displayMode;
    return options;
}

std::uint8_t HardwareOptionByte(const HardwareOptions &o, const FeatureGates &gates)
{
    std::uint8_t byte = 0;
    if (gates.displayModeEnabled && o.displayMode)
        byte |= 0x02;
    if (gates.safetyOptionsEnabled && o.dataSafety)
        byte |= 0x04;
    if (gates.safetyOptionsEnabled && o.bestResolution)
        byte |= 0x08;
    if (o.onlyTestKey)
        byte |= 0x10;
    if (o.vibratorDisabled)
        byte |= 0x20;
    if (o.serviceOverKeyboard)
        byte |= 0x80;
    return byte;
}

std::vector<std::uint8_t> HardwareSettingsPayload(const HardwareCalibration &calibration,
                                                  const HardwareOptions &options, const FeatureGates &gates)
{
    std::vector<std::uint8_t> bytes(kHardwareSize, 0);
    PutI16(bytes, 1, calibration.zeroPoint);
    PutI16(bytes, 3, calibration.gain);
    PutI16(bytes, 5, calibration.referenceVoltage);
    bytes[7] = HardwareOptionByte(options, gates);
    return bytes;
}

std::optional<HardwareCalibration> ReadHardwareCalibration(JobContext &job)
{
    RequestBuffer read{};
    BuildReadRequest(kObjectHardware, read);
    if (RunExchange(job, read, kReadBackArmTicks, Transaction::AttemptWait::Standard)
        != Outcome::Done)
        return std::nullopt;
    const AnswerFrame frame = AnswerFrameFromBuffer(job.transaction().Received());
    const bool hardwareData = frame.intact && frame.object == kObjectHardware && frame.flags == kFlagsDataAnswer
                           && frame.payload.size() >= static_cast<std::size_t>(kHardwareSize);
    if (!hardwareData) {
        // An error report counts and shows like any other.
        job.sequences().DecodeAnswer();
        return std::nullopt;
    }
    // Taken without showing: the tab keeps the options the user chose.
    job.transaction().TakeAnswer();
    HardwareCalibration calibration;
    calibration.zeroPoint = PayloadI16(frame.payload.data() + 1);
    calibration.gain = PayloadI16(frame.payload.data() + 3);
    calibration.referenceVoltage = PayloadI16(frame.payload.data() + 5);
    return calibration;
}

SettingsWriteResult WriteHardwareSettings(JobContext &job, const HardwareOptions &options)
{
    SettingsWriteResult result;
    const bool portOpen = job.port().Open();
    const std::optional<HardwareCalibration> calibration = ReadHardwareCalibration(job);
    if (!portOpen) {
        result.outcome = Outcome::PortClosed;
        return result;
    }
    if (!calibration) {
        result.outcome = job.transaction().Result().Cancelled ? Outcome::Cancelled
                                                              : Outcome::Refused;
        result.refusal = kCalibrationUnread;
        return result;
    }
    const FeatureGates gates = GatesForVersion(job.record().SoftwareVersion);
    return WriteAndReadBack(job, kObjectHardware, HardwareSettingsPayload(*calibration, options, gates),
                            kHardwareWriteArmTicks);
}

ConnectionJob HardwareSettingsJob(const HardwareOptions &options, std::shared_ptr<SettingsWriteResult> result)
{
    return [options, result](JobContext &job) {
        SettingsWriteResult outcome = WriteHardwareSettings(job, options);
        if (result)
            *result = std::move(outcome);
    };
}

} // namespace r310
