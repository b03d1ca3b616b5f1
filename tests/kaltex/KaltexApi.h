// The two gas table routines as a table of pointers, so one suite runs
// against KALTEX32 however the platform's callers bind it (by name on Linux,
// by ordinal on Windows).
#pragma once

#include "KALTEX32.h"

struct KaltexApi {
    KaltexTextFunction GasNameText = nullptr; // ordinal 2
    KaltexTextFunction GasUnitText = nullptr; // ordinal 3
};

// The routines under test, or null when the library cannot be bound.
const KaltexApi *KaltexUnderTest();

// Why the library could not be bound (empty when it was).
const char *KaltexBindError();
