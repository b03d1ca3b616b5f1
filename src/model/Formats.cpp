#include "Formats.h"

#include "SekDate.h"

#include <QChar>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace r310 {

namespace {

constexpr int kSignificantDigits = 7;
// Further decimals could only ever be zeros of a 7-digit value.
constexpr int kMaxDecimals = 340;

// The decimal digits of n zero-padded to `width`, then `mark` before the last two.
QString DigitsWithMark(std::int32_t n, int width, QChar mark)
{
    const bool negative = n < 0;
    QString digits = QString::number(std::abs(static_cast<std::int64_t>(n))).rightJustified(width, u'0');
    digits.insert(digits.size() - 2, mark);
    return negative ? u'-' + digits : digits;
}

// Replaces the C-locale decimal point and minus sign by the locale's.
QString Localized(const QString &plain, const QLocale &locale)
{
    QString out;
    out.reserve(plain.size());
    for (const QChar c : plain) {
        if (c == u'.')
            out += locale.decimalPoint();
        else if (c == u'-')
            out += locale.negativeSign();
        else
            out += c;
    }
    return out;
}

// "-0.00" reads as a negative value; a value rounded to zero shows without sign.
QString WithoutNegativeZero(const QString &plain)
{
    if (!plain.startsWith(u'-'))
        return plain;
    const bool allZero = std::all_of(plain.begin() + 1, plain.end(),
                                     [](QChar c) { return c == u'0' || c == u'.'; });
    return allZero ? plain.mid(1) : plain;
}

QString ScientificText(double value, int decimals, const QLocale &locale)
{
    const QString plain = QString::number(value, 'e', kSignificantDigits - 1);
    const qsizetype e = plain.indexOf(u'e');
    const int exponent = plain.mid(e + 1).toInt();
    const QString exponentDigits =
        QString::number(std::abs(exponent)).rightJustified(std::min(decimals, 4), u'0');
    return Localized(plain.left(e), locale) + u'E' + (exponent < 0 ? u'-' : u'+') + exponentDigits;
}

// Keeps characters inside single quotes (literal text of a format) untouched
// and hands every run of one unquoted letter to `rewrite`.
template <typename Rewrite>
QString RewriteFormat(const QString &format, Rewrite rewrite)
{
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == u'\'') {
            quoted = !quoted;
            out += c;
            ++i;
            continue;
        }
        qsizetype run = 1;
        while (!quoted && i + run < format.size() && format[i + run] == c)
            ++run;
        out += quoted ? QString(c) : rewrite(c, QString(run, c));
        i += run;
    }
    return out;
}

} // namespace

QString FormatSerialNumber(std::int32_t n)
{
    return QString::number(n).rightJustified(8, u'0');
}

QString FormatSoftwareVersion(std::int32_t n)
{
    return DigitsWithMark(n, 3, u'.');
}

QString FormatMkType(std::int32_t n)
{
    return DigitsWithMark(n, 5, u'-');
}

double ScaleByExponent(std::int32_t v, std::int8_t e)
{
    double factor = 1.0;
    for (int step = e; step != 0;) {
        if (step < 0) {
            factor /= 10.0;
            ++step;
        } else {
            factor *= 10.0;
            --step;
        }
    }
    return v * factor;
}

int DecimalsForExponent(std::int8_t e)
{
    return e < 0 ? -e : 0;
}

int ShownDecimalsForExponent(std::int8_t e)
{
    return std::min(DecimalsForExponent(e), kMaxShownDecimals);
}

std::int64_t DivideRoundHalfEven(std::int64_t p, std::int64_t divisor)
{
    std::int64_t quotient = p / divisor;
    std::int64_t remainder = p % divisor;
    if (remainder < 0) { // floor division, so the remainder counts upwards
        remainder += divisor;
        --quotient;
    }
    const std::int64_t twice = 2 * remainder;
    if (twice > divisor || (twice == divisor && (quotient & 1) != 0))
        ++quotient;
    return quotient;
}

QString ValueText(double value, int decimals, const QLocale &locale)
{
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    if (!std::isfinite(value))
        return locale.toString(value);
    // Integer digits of the value once rounded to 7 significant digits.
    int integerDigits = 1;
    if (value != 0.0) {
        const QString rounded = QString::number(value, 'e', kSignificantDigits - 1);
        integerDigits = rounded.mid(rounded.indexOf(u'e') + 1).toInt() + 1;
    }
    if (integerDigits > kSignificantDigits)
        return ScientificText(value, decimals, locale);

    const int places = std::min(decimals, kSignificantDigits - integerDigits);
    QString plain = WithoutNegativeZero(QString::number(value, 'f', places));
    if (decimals > places) {
        if (places == 0)
            plain += u'.';
        plain += QString(decimals - places, u'0');
    }
    return Localized(plain, locale);
}

QString ScaledValueText(std::int32_t raw, std::int8_t e, const QLocale &locale)
{
    return ValueText(ScaleByExponent(raw, e), ShownDecimalsForExponent(e), locale);
}

QDateTime DateTimeFromDays(double days)
{
    const std::optional<DateTimeParts> parts = DecodeDateTime(days);
    if (!parts)
        return {};
    // Wall-clock fields, kept in UTC so that no daylight-saving rule moves them.
    return QDateTime(QDate(parts->year, parts->month, parts->day),
                     QTime(parts->hour, parts->minute, parts->second, parts->millisecond), Qt::UTC);
}

QString ShortDateFormat(const QLocale &locale)
{
    return RewriteFormat(locale.dateFormat(QLocale::ShortFormat), [](QChar c, const QString &run) {
        return c == u'y' && run.size() == 2 ? QStringLiteral("yyyy") : run;
    });
}

QString LongTimeFormat(const QLocale &locale)
{
    const QString format = RewriteFormat(locale.timeFormat(QLocale::LongFormat),
                                         [](QChar c, const QString &run) {
                                             return c == u't' ? QString() : run;
                                         });
    return format.simplified();
}

QString DateText(const QDate &date, const QLocale &locale)
{
    return locale.toString(date, ShortDateFormat(locale));
}

QString TimeText(const QTime &time, const QLocale &locale)
{
    return locale.toString(time, LongTimeFormat(locale));
}

QString DateTimeText(const QDateTime &dateTime, const QLocale &locale)
{
    if (!dateTime.isValid())
        return {};
    return DateText(dateTime.date(), locale) + u' ' + TimeText(dateTime.time(), locale);
}

QString DateTimeText(double days, const QLocale &locale)
{
    return DateTimeText(DateTimeFromDays(days), locale);
}

QString InstrumentSecondsText(std::int32_t seconds, const QLocale &locale)
{
    return DateTimeText(SekToDateTime(seconds), locale);
}

QString InstrumentDayText(std::int32_t days, const QLocale &locale)
{
    // Straight from the day count: days times 86400 would overflow a 32-bit
    // second count beyond 2048.
    return DateText(QDate(1980, 1, 1).addDays(days), locale);
}

} // namespace r310
