/*
 * KALTEX32: the gas table of the Lumo instrument family. Turns the one-byte
 * gas and unit codes an instrument reports into short texts.
 *
 * Both functions take a selector (always 0), the code (0 to 255), a text
 * buffer and its size (21 in every caller), and always leave a zero-terminated
 * text of at most 20 characters in the buffer. They return the length of that
 * text, or -1 when nothing could be written (no buffer, size 0 or less).
 * A code the table does not know gives a marked text such as "Gas #200";
 * a selector other than 0 gives an empty text and -1.
 */
#ifndef KALTEX32_H
#define KALTEX32_H

#include <stdint.h>

#if defined(_WIN32)
#  define KALTEX32_CALL __stdcall
#  if defined(KALTEX32_BUILDING)
#    define KALTEX32_API __declspec(dllexport)
#  else
#    define KALTEX32_API __declspec(dllimport)
#  endif
#else
#  define KALTEX32_CALL
#  define KALTEX32_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Longest text the functions write, without the terminating zero. */
#define KALTEX32_TEXT_MAX 20
/* Buffer size every caller passes. */
#define KALTEX32_BUFFER_SIZE 21

typedef int32_t(KALTEX32_CALL *KaltexTextFunction)(int32_t selector, int32_t code,
                                                   char *buffer, int32_t size);

/* Name of the gas with this code, e.g. "CO", "H2S", "EX". Ordinal 2. */
KALTEX32_API int32_t KALTEX32_CALL GasNameText(int32_t selector, int32_t code, char *buffer,
                                               int32_t size);

/* Measuring unit with this code, e.g. "ppm", "%LEL". Ordinal 3. */
KALTEX32_API int32_t KALTEX32_CALL GasUnitText(int32_t selector, int32_t code, char *buffer,
                                               int32_t size);

#ifdef __cplusplus
}
#endif

#endif /* KALTEX32_H */
