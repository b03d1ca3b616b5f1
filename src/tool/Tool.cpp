// The VykTool exports. Dates and the shift checksum come from the same code
// the configurator links; everything else is small enough to live here.
#include "VykTool.h"

#include "Chksum.h"
#include "SekDate.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#ifndef NOMINMAX // the C++ library may have set it already
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace {

constexpr std::int32_t kLanguageGerman = 7;
constexpr std::int32_t kLanguageEnglish = 9;
constexpr std::uint16_t kChecksumTypeAsComputed = 2;
constexpr std::uint16_t kChecksumTypeSwapped = 3;

// Character and exponent arguments use only the low byte of their slot.
char LowChar(std::int32_t slot)
{
    return static_cast<char>(static_cast<unsigned char>(slot & 0xFF));
}

std::int8_t LowSigned8(std::int32_t slot)
{
    const int low = slot & 0xFF;
    return static_cast<std::int8_t>(low < 0x80 ? low : low - 0x100);
}

// The x87 unit rounds every long double operation to the precision its
// control word selects, and that word belongs to the calling thread: programs
// built with Microsoft's compilers run with 53 bits, which would make the
// extended-precision routines below inexact (10^3 no longer 1000). Each
// routine that computes in long double sets 64 bits for its own work and
// gives the caller's setting back. The work itself sits in functions that are
// never inlined, so none of it can be moved outside the guard.
class ExtendedPrecision {
public:
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
    ExtendedPrecision()
    {
        asm volatile("fnstcw %0" : "=m"(m_caller) : : "memory");
        const auto extended = static_cast<std::uint16_t>(m_caller | kPrecisionBits);
        asm volatile("fldcw %0" : : "m"(extended) : "memory");
    }
    ~ExtendedPrecision() { asm volatile("fldcw %0" : : "m"(m_caller) : "memory"); }

private:
    static constexpr std::uint16_t kPrecisionBits = 0x0300; // 11: 64-bit mantissa
    std::uint16_t m_caller = 0;

public:
#else
    ExtendedPrecision() = default;
#endif
    ExtendedPrecision(const ExtendedPrecision &) = delete;
    ExtendedPrecision &operator=(const ExtendedPrecision &) = delete;
};

// Runs one computation under ExtendedPrecision.
template <typename R, typename... A>
R Extended(R (*compute)(A...), A... args)
{
    const ExtendedPrecision precision;
    return compute(args...);
}

[[gnu::noinline]] double PowerOfTen(long double x)
{
    return static_cast<double>(std::exp(x * std::log(10.0L)));
}

[[gnu::noinline]] double Scale(double value, double factor, double offset)
{
    return static_cast<double>(static_cast<long double>(value) * factor + offset);
}

// The factor is a double first, as a caller of Exp10 would see it.
[[gnu::noinline]] double RealValue(std::int32_t mantissa, std::int8_t exponent)
{
    return static_cast<double>(static_cast<long double>(mantissa) * PowerOfTen(exponent));
}

[[gnu::noinline]] double SecondsToDateTime(std::int32_t seconds)
{
    return r310::SekToDateTime(seconds);
}

[[gnu::noinline]] std::int32_t DateTimeToSeconds(double dateTime)
{
    return r310::DateTimeToSek(dateTime);
}

[[gnu::noinline]] std::int32_t NowInSeconds()
{
    return r310::SysTimeSek();
}

#if !defined(_WIN32)
// The language part of a POSIX locale name ("de_DE.UTF-8@euro" -> "de").
bool IsGermanLocale(const char *name)
{
    const std::size_t length = std::strcspn(name, "_.@");
    return length == 2 && std::tolower(static_cast<unsigned char>(name[0])) == 'd'
           && std::tolower(static_cast<unsigned char>(name[1])) == 'e';
}

// The locale that decides the language of messages, in POSIX precedence.
const char *MessagesLocale()
{
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return "";
}
#endif

char *FillToWidth(char *buf, std::int32_t width, char fill, bool alignRight)
{
    if (buf == nullptr)
        return buf;
    if (width <= 0) {
        buf[0] = '\0';
        return buf;
    }
    const auto target = static_cast<std::size_t>(width);
    const std::size_t length = std::strlen(buf);
    if (length < target) {
        const std::size_t padding = target - length;
        if (alignRight) {
            std::memmove(buf + padding, buf, length);
            std::memset(buf, fill, padding);
        } else {
            std::memset(buf + length, fill, padding);
        }
    }
    buf[target] = '\0';
    return buf;
}

} // namespace

extern "C" {

VYKTOOL_API std::int32_t VYKTOOL_CALL SysTimeSek(void)
{
    return Extended(NowInSeconds);
}

VYKTOOL_API double VYKTOOL_CALL SekToDateTime(std::int32_t seconds)
{
    return Extended(SecondsToDateTime, seconds);
}

VYKTOOL_API std::int32_t VYKTOOL_CALL DateTimeToSek(double dateTime)
{
    return Extended(DateTimeToSeconds, dateTime);
}

VYKTOOL_API double VYKTOOL_CALL ScalVal(double value, double factor, double offset)
{
    return Extended(Scale, value, factor, offset);
}

VYKTOOL_API double VYKTOOL_CALL Exp10(double x)
{
    return Extended(PowerOfTen, static_cast<long double>(x));
}

VYKTOOL_API std::int32_t VYKTOOL_CALL GetDZP(std::int32_t exponent)
{
    const std::int8_t e = LowSigned8(exponent);
    return e <= 0 ? -e : 0;
}

VYKTOOL_API double VYKTOOL_CALL GetRealVal(std::int32_t mantissa, std::int32_t exponent)
{
    return Extended(RealValue, mantissa, LowSigned8(exponent));
}

VYKTOOL_API std::uint8_t VYKTOOL_CALL CmpBuffer(const void *first, const void *second, std::int32_t count)
{
    const std::size_t n = static_cast<std::size_t>(std::llabs(static_cast<long long>(count)));
    if (n == 0 || first == second)
        return 1;
    if (first == nullptr || second == nullptr)
        return 0;
    const auto *a = static_cast<const unsigned char *>(first);
    const auto *b = static_cast<const unsigned char *>(second);
    // Byte by byte, so nothing beyond the first difference is read.
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return 0;
    }
    return 1;
}

VYKTOOL_API std::int32_t VYKTOOL_CALL GetSysLang(void)
{
#if defined(_WIN32)
    const bool german = (GetUserDefaultLangID() & 0x3FF) == LANG_GERMAN;
#else
    const bool german = IsGermanLocale(MessagesLocale());
#endif
    return german ? kLanguageGerman : kLanguageEnglish;
}

VYKTOOL_API void *VYKTOOL_CALL Swap2(void *p)
{
    return p == nullptr ? p : r310::Swap2(static_cast<std::uint8_t *>(p));
}

VYKTOOL_API void *VYKTOOL_CALL Swap4(void *p)
{
    if (p == nullptr)
        return p;
    auto *bytes = static_cast<std::uint8_t *>(p);
    std::reverse(bytes, bytes + 4);
    return bytes + 4;
}

VYKTOOL_API std::uint16_t VYKTOOL_CALL BuildChkSum(const void *data, std::uint16_t length, std::uint16_t type)
{
    if (data == nullptr && length > 0)
        return 0;
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    switch (type) {
    case kChecksumTypeAsComputed:
        return r310::ComputeChecksum(r310::kChecksumShift, bytes, length);
    case kChecksumTypeSwapped:
        return r310::ComputeChecksum(r310::kChecksumShiftSwapped, bytes, length);
    default:
        return 0;
    }
}

VYKTOOL_API char *VYKTOOL_CALL StrFillRChar(char *buf, std::int32_t width, std::int32_t fill)
{
    return FillToWidth(buf, width, LowChar(fill), false);
}

VYKTOOL_API char *VYKTOOL_CALL StrFillLChar(char *buf, std::int32_t width, std::int32_t fill)
{
    return FillToWidth(buf, width, LowChar(fill), true);
}

VYKTOOL_API char *VYKTOOL_CALL StrFillR(char *buf, std::int32_t width)
{
    return FillToWidth(buf, width, ' ', false);
}

VYKTOOL_API char *VYKTOOL_CALL StrFillL(char *buf, std::int32_t width)
{
    return FillToWidth(buf, width, ' ', true);
}

VYKTOOL_API char *VYKTOOL_CALL StrSplitt(char *buf, std::int32_t decimals, std::int32_t mark)
{
    if (buf == nullptr)
        return buf;
    // 64-bit arithmetic: decimals may be anywhere in the 32-bit range.
    auto length = static_cast<std::int64_t>(std::strlen(buf));
    const std::int64_t minimum = static_cast<std::int64_t>(decimals) + 2;
    if (length < minimum) {
        const auto padding = static_cast<std::size_t>(minimum - length);
        std::memmove(buf + padding, buf, static_cast<std::size_t>(length) + 1);
        std::memset(buf, ' ', padding);
        length = minimum;
    }
    const std::int64_t at = std::clamp<std::int64_t>(length - decimals, 0, length);
    std::memmove(buf + at + 1, buf + at, static_cast<std::size_t>(length - at) + 1);
    buf[at] = LowChar(mark);
    return buf;
}

VYKTOOL_API char *VYKTOOL_CALL SubStr(char *src, char *dst, std::int32_t separator, std::int32_t limit)
{
    if (src == nullptr || dst == nullptr || limit == 0)
        return dst;
    const char mark = LowChar(separator);
    // A zero separator can never stand inside the text.
    const char *found = mark != '\0' ? std::strchr(src, mark) : nullptr;
    const std::size_t fieldLength = found != nullptr ? static_cast<std::size_t>(found - src) : std::strlen(src);
    const std::size_t restOffset = found != nullptr ? fieldLength + 1 : fieldLength;
    std::size_t keep = fieldLength;
    if (limit > 0)
        keep = std::min(keep, static_cast<std::size_t>(limit));
    std::memmove(dst, src, keep);
    dst[keep] = '\0';
    // The rest moves to the front; the destination lies before the source.
    std::memmove(src, src + restOffset, std::strlen(src + restOffset) + 1);
    return dst;
}

} // extern "C"
