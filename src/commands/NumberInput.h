#pragma once
// Numbers typed by the technician, turned into the raw integers the
// instrument stores. The text is read exactly as a decimal number (no binary
// floating point in between), so a tie such as 0.25 at one decimal is seen as
// a tie and rounds to the even neighbour (2), and what is sent is what was
// typed. The window reads with the user's QLocale; r310ctl always reads "."
// as decimal point (the ...Dot variants). Group separators are refused: in
// German "1.000" is not a thousand but a typing error.
//
// Every function returns either the value or the message to show; nothing
// here throws and nothing here talks to the instrument.
#include <QLocale>
#include <QString>

#include <cstdint>
#include <optional>

namespace r310 {

// A converted value, or the text that refuses the input (shown as is; the
// window's error display adds the full stop).
template <typename T>
struct Conversion {
    std::optional<T> value;
    QString error;

    static Conversion accepted(T v) { return {v, {}}; }
    static Conversion refused(QString message) { return {std::nullopt, std::move(message)}; }
    bool ok() const { return value.has_value(); }
    explicit operator bool() const { return ok(); }
};

// The runtime's conversion texts, quoting the field's text as typed.
QString NotAFloatMessage(const QString &text);   // "'%s' is not a valid floating point value"
QString NotAnIntegerMessage(const QString &text); // "'%s' is not a valid integer value"

// The text reads as a decimal number (before the instrument's scale is known).
bool IsDecimalNumber(const QString &text, const QLocale &locale);

// Largest exponent magnitude the gas values are converted with.
inline constexpr int kMaxExponentMagnitude = 4;

// A gas concentration (alarm threshold, calibration gas) in the instrument's
// unit -> raw value: times 10^|exponent| for a negative exponent, divided by
// 10^exponent otherwise, rounded half to even. Refused: text that is not a
// number (runtime text), an exponent beyond +-4, a raw value outside the
// signed 16-bit range. `field` names the field in the refusals ("A1").
Conversion<std::int16_t> GasValueToRaw(const QString &field, const QString &text,
                                       std::int8_t exponent, const QLocale &locale);
Conversion<std::int16_t> GasValueToRawDot(const QString &field, const QString &text,
                                          std::int8_t exponent);

// The same, but a value the instrument's scale cannot hold exactly (35.5
// at exponent 0) is refused, naming the two nearest values it can hold
// ("A1: 35.5 does not fit the instrument's scale; the nearest values it can
// hold are 35 and 36"): what is written is what was typed, never a rounded
// neighbour. Every front end converts alarm limits with these.
Conversion<std::int16_t> ExactGasValueToRaw(const QString &field, const QString &text, std::int8_t exponent,
                                            const QLocale &locale);
Conversion<std::int16_t> ExactGasValueToRawDot(const QString &field, const QString &text, std::int8_t exponent);

// A fixed-point value with `decimals` decimals -> raw signed 16-bit value
// (hardware zero point 130.5 at 1 decimal -> 1305), rounded half to even.
Conversion<std::int16_t> FixedPointToRaw(const QString &field, const QString &text, int decimals,
                                         const QLocale &locale);
Conversion<std::int16_t> FixedPointToRawDot(const QString &field, const QString &text, int decimals);

// A whole number as the runtime reads it: optional sign, decimal digits,
// surrounding blanks ignored, within the signed 32-bit range; otherwise the
// runtime text. The locale contributes its minus and plus signs only.
Conversion<std::int32_t> IntegerValue(const QString &text, const QLocale &locale = QLocale::c());

// A whole number that must lie within [min, max]; outside it the refusal
// names the field and the range ("Bleep interval: 300 is outside 0 to 255").
Conversion<std::int32_t> IntegerInRange(const QString &field, const QString &text, std::int32_t min,
                                        std::int32_t max, const QLocale &locale = QLocale::c());

// The refusal of a value outside [min, max], for values that did not come
// from text (a stored day count, a value read from the instrument).
QString OutsideRangeMessage(const QString &field, const QString &value, const QString &min,
                            const QString &max);

// The text of a raw gas value in the instrument's unit, as r310ctl prints
// it and reads it back: raw x 10^exponent with "." as decimal point.
QString GasValueTextDot(std::int32_t raw, std::int8_t exponent);

} // namespace r310
