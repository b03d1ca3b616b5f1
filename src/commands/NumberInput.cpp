#include "NumberInput.h"

#include "Formats.h"

#include <QStringView>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>

namespace r310 {

namespace {

// Exponent digits accepted after "E"; the runtime's widest floating-point
// type ends near 10^4932, so a longer exponent is no number either.
constexpr int kMaxExponentDigits = 4;
// Integer digits beyond which a value is out of every 16-bit range anyway.
constexpr int kMaxIntegerDigits = 15;

// A decimal number exactly as typed: (-1)^negative x digits x 10^shift,
// digits without leading zeros ("" for zero).
struct ExactDecimal {
    bool negative = false;
    QString digits;
    int shift = 0;
};

bool IsAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Consumes `token` at `pos` when it is there.
bool Take(QStringView text, qsizetype &pos, QStringView token)
{
    if (token.isEmpty() || !text.mid(pos).startsWith(token))
        return false;
    pos += token.size();
    return true;
}

// Optional sign: "-" or the locale's minus sign, "+" or the locale's plus sign.
bool TakeSign(QStringView text, qsizetype &pos, const QLocale &locale)
{
    if (Take(text, pos, u"-") || Take(text, pos, locale.negativeSign()))
        return true;
    Take(text, pos, u"+") || Take(text, pos, locale.positiveSign());
    return false;
}

QString TakeDigits(QStringView text, qsizetype &pos)
{
    const qsizetype start = pos;
    while (pos < text.size() && IsAsciiDigit(text[pos]))
        ++pos;
    return text.mid(start, pos - start).toString();
}

// Reads [sign] digits [point digits] [E [sign] digits], at least one digit
// before or after the point, nothing else but surrounding blanks.
std::optional<ExactDecimal> ParseDecimal(const QString &typed, const QLocale &locale)
{
    const QStringView text = QStringView(typed).trimmed();
    qsizetype pos = 0;
    ExactDecimal number;
    number.negative = TakeSign(text, pos, locale);
    const QString integerDigits = TakeDigits(text, pos);
    QString fractionDigits;
    if (Take(text, pos, locale.decimalPoint()))
        fractionDigits = TakeDigits(text, pos);
    if (integerDigits.isEmpty() && fractionDigits.isEmpty())
        return std::nullopt;
    int exponent = 0;
    if (pos < text.size() && (text[pos] == u'e' || text[pos] == u'E')) {
        ++pos;
        const bool negativeExponent = TakeSign(text, pos, QLocale::c());
        const QString exponentDigits = TakeDigits(text, pos);
        if (exponentDigits.isEmpty() || exponentDigits.size() > kMaxExponentDigits)
            return std::nullopt;
        exponent = negativeExponent ? -exponentDigits.toInt() : exponentDigits.toInt();
    }
    if (pos != text.size())
        return std::nullopt;

    QString digits = integerDigits + fractionDigits;
    qsizetype leadingZeros = 0;
    while (leadingZeros < digits.size() && digits[leadingZeros] == u'0')
        ++leadingZeros;
    number.digits = digits.mid(leadingZeros);
    number.shift = exponent - static_cast<int>(fractionDigits.size());
    return number;
}

std::int64_t DigitsValue(QStringView digits)
{
    std::int64_t value = 0;
    for (const QChar c : digits)
        value = value * 10 + (c.unicode() - u'0');
    return value;
}

// number x 10^extraShift rounded to an integer, a tie going to the even one;
// nullopt when the magnitude exceeds kMaxIntegerDigits digits.
std::optional<std::int64_t> RoundHalfEven(const ExactDecimal &number, int extraShift)
{
    const QString &digits = number.digits;
    if (digits.isEmpty())
        return 0;
    const qsizetype shift = static_cast<qsizetype>(number.shift) + extraShift;
    const qsizetype integerDigitCount = digits.size() + shift;
    if (integerDigitCount > kMaxIntegerDigits)
        return std::nullopt;
    std::int64_t magnitude = 0;
    if (shift >= 0) {
        magnitude = DigitsValue(digits);
        for (qsizetype i = 0; i < shift; ++i)
            magnitude *= 10;
    } else {
        const qsizetype kept = std::max<qsizetype>(integerDigitCount, 0);
        magnitude = DigitsValue(QStringView(digits).left(kept));
        // The dropped digits, with the zeros between the point and the
        // first digit when the value is below one.
        const QString dropped = QString(kept - integerDigitCount, u'0') + digits.mid(kept);
        const QChar first = dropped[0];
        const bool restZero = QStringView(dropped).mid(1).count(u'0') == dropped.size() - 1;
        if (first > u'5' || (first == u'5' && (!restZero || magnitude % 2 != 0)))
            ++magnitude;
    }
    return number.negative ? -magnitude : magnitude;
}

// A raw limit shown in the field's unit: raw x 10^-shift, with `shift`
// decimals for a positive shift and trailing zeros for a negative one.
QString LimitText(std::int64_t rawLimit, int shift, const QLocale &locale)
{
    if (shift >= 0)
        return ValueText(ScaleByExponent(static_cast<std::int32_t>(rawLimit), static_cast<std::int8_t>(-shift)),
                         shift, locale);
    QString plain = QString::number(rawLimit) + QString(-shift, u'0');
    if (rawLimit < 0)
        plain.replace(0, 1, locale.negativeSign());
    return plain;
}

// The raw values on either side of a number that falls between two of them
// (number x 10^extraShift has non-zero digits after the point), or nullopt
// when it is one of them.
std::optional<std::pair<std::int64_t, std::int64_t>> Neighbours(const ExactDecimal &number, int extraShift)
{
    const qsizetype shift = static_cast<qsizetype>(number.shift) + extraShift;
    if (number.digits.isEmpty() || shift >= 0)
        return std::nullopt;
    const qsizetype integerDigitCount = number.digits.size() + shift;
    const qsizetype kept = std::max<qsizetype>(integerDigitCount, 0);
    if (QStringView(number.digits).mid(kept).count(u'0') == number.digits.size() - kept)
        return std::nullopt;
    const std::int64_t below = DigitsValue(QStringView(number.digits).left(kept));
    if (number.negative)
        return std::make_pair(-below - 1, -below);
    return std::make_pair(below, below + 1);
}

// Rounds `text` x 10^extraShift into int16, or refuses it. The range in the
// refusal is shown with `decimals` decimals, scaled back by `extraShift`.
// exact: a number between two raw values is refused, naming both.
Conversion<std::int16_t> ToInt16(const QString &field, const QString &text, int extraShift,
                                 const QLocale &locale, bool exact = false)
{
    const std::optional<ExactDecimal> number = ParseDecimal(text, locale);
    if (!number)
        return Conversion<std::int16_t>::refused(NotAFloatMessage(text));
    const std::optional<std::int64_t> raw = RoundHalfEven(*number, extraShift);
    constexpr std::int64_t kMin = std::numeric_limits<std::int16_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int16_t>::max();
    if (!raw || *raw < kMin || *raw > kMax) {
        return Conversion<std::int16_t>::refused(
            OutsideRangeMessage(field, text.trimmed(), LimitText(kMin, extraShift, locale),
                                LimitText(kMax, extraShift, locale)));
    }
    if (exact) {
        if (const auto around = Neighbours(*number, extraShift)) {
            return Conversion<std::int16_t>::refused(
                QStringLiteral("%1: %2 does not fit the instrument's scale; the nearest values it can hold are %3 and %4")
                    .arg(field, text.trimmed(), LimitText(around->first, extraShift, locale),
                         LimitText(around->second, extraShift, locale)));
        }
    }
    return Conversion<std::int16_t>::accepted(static_cast<std::int16_t>(*raw));
}

} // namespace

QString NotAFloatMessage(const QString &text)
{
    return QStringLiteral("'%1' is not a valid floating point value").arg(text);
}

QString NotAnIntegerMessage(const QString &text)
{
    return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

QString OutsideRangeMessage(const QString &field, const QString &value, const QString &min,
                            const QString &max)
{
    return QStringLiteral("%1: %2 is outside the allowed range %3 to %4").arg(field, value, min, max);
}

bool IsDecimalNumber(const QString &text, const QLocale &locale)
{
    return ParseDecimal(text, locale).has_value();
}

namespace {

Conversion<std::int16_t> GasToRaw(const QString &field, const QString &text, std::int8_t exponent,
                                  const QLocale &locale, bool exact)
{
    if (std::abs(exponent) > kMaxExponentMagnitude) {
        return Conversion<std::int16_t>::refused(
            QStringLiteral("%1: the instrument's decimal exponent %2 is outside -%3 to %3; "
                           "the value cannot be converted")
                .arg(field)
                .arg(exponent)
                .arg(kMaxExponentMagnitude));
    }
    return ToInt16(field, text, -exponent, locale, exact);
}

} // namespace

Conversion<std::int16_t> GasValueToRaw(const QString &field, const QString &text,
                                       std::int8_t exponent, const QLocale &locale)
{
    return GasToRaw(field, text, exponent, locale, false);
}

Conversion<std::int16_t> GasValueToRawDot(const QString &field, const QString &text,
                                          std::int8_t exponent)
{
    return GasValueToRaw(field, text, exponent, QLocale::c());
}

Conversion<std::int16_t> ExactGasValueToRaw(const QString &field, const QString &text, std::int8_t exponent,
                                            const QLocale &locale)
{
    return GasToRaw(field, text, exponent, locale, true);
}

Conversion<std::int16_t> ExactGasValueToRawDot(const QString &field, const QString &text, std::int8_t exponent)
{
    return ExactGasValueToRaw(field, text, exponent, QLocale::c());
}

Conversion<std::int16_t> FixedPointToRaw(const QString &field, const QString &text, int decimals,
                                         const QLocale &locale)
{
    return ToInt16(field, text, decimals, locale);
}

Conversion<std::int16_t> FixedPointToRawDot(const QString &field, const QString &text, int decimals)
{
    return FixedPointToRaw(field, text, decimals, QLocale::c());
}

Conversion<std::int32_t> IntegerValue(const QString &text, const QLocale &locale)
{
    const QStringView trimmed = QStringView(text).trimmed();
    qsizetype pos = 0;
    const bool negative = TakeSign(trimmed, pos, locale);
    const QString digits = TakeDigits(trimmed, pos);
    if (digits.isEmpty() || pos != trimmed.size())
        return Conversion<std::int32_t>::refused(NotAnIntegerMessage(text));
    qsizetype leadingZeros = 0;
    while (leadingZeros + 1 < digits.size() && digits[leadingZeros] == u'0')
        ++leadingZeros;
    const QStringView significant = QStringView(digits).mid(leadingZeros);
    if (significant.size() > 10)
        return Conversion<std::int32_t>::refused(NotAnIntegerMessage(text));
    const std::int64_t magnitude = DigitsValue(significant);
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return Conversion<std::int32_t>::refused(NotAnIntegerMessage(text));
    return Conversion<std::int32_t>::accepted(static_cast<std::int32_t>(value));
}

Conversion<std::int32_t> IntegerInRange(const QString &field, const QString &text, std::int32_t min,
                                        std::int32_t max, const QLocale &locale)
{
    Conversion<std::int32_t> converted = IntegerValue(text, locale);
    if (converted && (*converted.value < min || *converted.value > max)) {
        return Conversion<std::int32_t>::refused(OutsideRangeMessage(
            field, QString::number(*converted.value), QString::number(min), QString::number(max)));
    }
    return converted;
}

QString GasValueTextDot(std::int32_t raw, std::int8_t exponent)
{
    return ScaledValueText(raw, exponent, QLocale::c());
}

} // namespace r310
