/* The eighteen VykTool routines as a table of pointers, so one behaviour
   suite runs against the library loaded at run time and linked from C.
   The member types are written out here on purpose: the C caller fills the
   table from the public header, so a mismatch fails to compile. */
#ifndef VYKTOOL_API_TABLE_H
#define VYKTOOL_API_TABLE_H

#include "VykTool.h"

#define VYKTOOL_EXPORT_NAMES(X) \
    X(SysTimeSek) X(SekToDateTime) X(DateTimeToSek) X(ScalVal) X(Exp10) X(GetDZP) \
    X(GetRealVal) X(CmpBuffer) X(GetSysLang) X(Swap2) X(Swap4) X(BuildChkSum) \
    X(StrFillRChar) X(StrFillLChar) X(StrFillR) X(StrFillL) X(StrSplitt) X(SubStr)

struct VykToolApi {
    int32_t (VYKTOOL_CALL *SysTimeSek)(void);
    double (VYKTOOL_CALL *SekToDateTime)(int32_t);
    int32_t (VYKTOOL_CALL *DateTimeToSek)(double);
    double (VYKTOOL_CALL *ScalVal)(double, double, double);
    double (VYKTOOL_CALL *Exp10)(double);
    int32_t (VYKTOOL_CALL *GetDZP)(int32_t);
    double (VYKTOOL_CALL *GetRealVal)(int32_t, int32_t);
    uint8_t (VYKTOOL_CALL *CmpBuffer)(const void *, const void *, int32_t);
    int32_t (VYKTOOL_CALL *GetSysLang)(void);
    void *(VYKTOOL_CALL *Swap2)(void *);
    void *(VYKTOOL_CALL *Swap4)(void *);
    uint16_t (VYKTOOL_CALL *BuildChkSum)(const void *, uint16_t, uint16_t);
    char *(VYKTOOL_CALL *StrFillRChar)(char *, int32_t, int32_t);
    char *(VYKTOOL_CALL *StrFillLChar)(char *, int32_t, int32_t);
    char *(VYKTOOL_CALL *StrFillR)(char *, int32_t);
    char *(VYKTOOL_CALL *StrFillL)(char *, int32_t);
    char *(VYKTOOL_CALL *StrSplitt)(char *, int32_t, int32_t);
    char *(VYKTOOL_CALL *SubStr)(char *, char *, int32_t, int32_t);
};

#ifdef __cplusplus
extern "C"
#endif
    /* The routines under test, or null when they cannot be had. */
    const struct VykToolApi *VykToolUnderTest(void);

#endif
