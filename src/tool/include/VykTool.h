/*
 * VykTool: stateless routines for programs that handle the data of the Lumo
 * instrument family. Dates, decimal scaling, byte order, the shift checksum
 * and fixed-width text in buffers that the caller owns.
 *
 * InstrumentSeconds: signed seconds since 1980-01-01 00:00 local time.
 * Date-time: days since 1899-12-30 00:00 as a double, the time of day being
 * the fraction (1980-01-01 00:00 is 29221.0).
 * Character and decimal-exponent arguments travel in 32-bit slots of which
 * only the low byte counts (the exponent sign-extended). Boolean results are
 * one byte, 1 true and 0 false. No routine checks buffer sizes.
 */
#ifndef VYKTOOL_H
#define VYKTOOL_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(VYKTOOL_BUILD)
#    define VYKTOOL_API __declspec(dllexport)
#  else
#    define VYKTOOL_API __declspec(dllimport)
#  endif
#  if defined(_M_IX86) || defined(__i386__)
#    define VYKTOOL_CALL __stdcall
#  else
#    define VYKTOOL_CALL
#  endif
#elif defined(__GNUC__)
#  define VYKTOOL_API __attribute__((visibility("default")))
#  define VYKTOOL_CALL
#else
#  define VYKTOOL_API
#  define VYKTOOL_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Date and time */

/* The current local time as InstrumentSeconds, rounded to the nearest second
   (a tie to the even count). */
VYKTOOL_API int32_t VYKTOOL_CALL SysTimeSek(void);

/* seconds / 86400 + 29221. */
VYKTOOL_API double VYKTOOL_CALL SekToDateTime(int32_t seconds);

/* (dateTime - 29221) * 86400 rounded to the nearest second, a tie to the even
   count. 0 when it cannot be rounded (not a number, infinite, beyond the
   64-bit integer range); the low 32 bits when outside the 32-bit range. */
VYKTOOL_API int32_t VYKTOOL_CALL DateTimeToSek(double dateTime);

/* Numbers */

/* value * factor + offset. */
VYKTOOL_API double VYKTOOL_CALL ScalVal(double value, double factor, double offset);

/* 10 to the power x, as e^(x * ln 10). */
VYKTOOL_API double VYKTOOL_CALL Exp10(double x);

/* Decimal places a value with this exponent needs: -exponent when the
   exponent is 0 or negative, else 0. */
VYKTOOL_API int32_t VYKTOOL_CALL GetDZP(int32_t exponent);

/* mantissa * Exp10(exponent). */
VYKTOOL_API double VYKTOOL_CALL GetRealVal(int32_t mantissa, int32_t exponent);

/* 1 when the first |count| bytes of both buffers are equal (count 0: 1).
   Stops at the first difference. */
VYKTOOL_API uint8_t VYKTOOL_CALL CmpBuffer(const void *first, const void *second, int32_t count);

/* 7 when the user's language is German, 9 otherwise. */
VYKTOOL_API int32_t VYKTOOL_CALL GetSysLang(void);

/* Exchange p[0] and p[1] in place; return p + 2. */
VYKTOOL_API void *VYKTOOL_CALL Swap2(void *p);

/* Reverse p[0..3] in place; return p + 4. */
VYKTOOL_API void *VYKTOOL_CALL Swap4(void *p);

/* Shift checksum over length bytes, started at 0x3418. Type 2: as computed;
   type 3: its two bytes exchanged; any other type: 0. */
VYKTOOL_API uint16_t VYKTOOL_CALL BuildChkSum(const void *data, uint16_t length, uint16_t type);

/* Text. Each routine rewrites the zero-terminated text in buf and returns buf. */

/* Exactly width characters: the first width of a long text, a short one
   followed by fill characters. width <= 0 leaves an empty text. buf holds
   width + 1 bytes. */
VYKTOOL_API char *VYKTOOL_CALL StrFillRChar(char *buf, int32_t width, int32_t fill);

/* As StrFillRChar, a short text preceded by the fill characters. */
VYKTOOL_API char *VYKTOOL_CALL StrFillLChar(char *buf, int32_t width, int32_t fill);

/* StrFillRChar / StrFillLChar with blanks. */
VYKTOOL_API char *VYKTOOL_CALL StrFillR(char *buf, int32_t width);
VYKTOOL_API char *VYKTOOL_CALL StrFillL(char *buf, int32_t width);

/* Inserts the mark so that the last decimals characters follow it, padding
   a short text on the left with blanks to decimals + 2 characters first.
   buf holds max(length, decimals + 2) + 2 bytes. */
VYKTOOL_API char *VYKTOOL_CALL StrSplitt(char *buf, int32_t decimals, int32_t mark);

/* Moves the text of src before the first separator into dst (at most limit
   characters when limit > 0, all of it when limit < 0) and leaves the text
   after the separator in src. Null buffers or limit 0: nothing happens.
   Returns dst, which holds limit + 1 bytes. */
VYKTOOL_API char *VYKTOOL_CALL SubStr(char *src, char *dst, int32_t separator, int32_t limit);

#ifdef __cplusplus
}
#endif

#endif /* VYKTOOL_H */
