/*
 * The gas table: what portable single-gas detectors of the family measure and
 * the units they report in. Codes are indices into the two tables below.
 */
#define KALTEX32_BUILDING
#include "KALTEX32.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

static const char *const kGasNames[] = {
    "EX",     /*  0 combustible gases (catalytic bead) */
    "CO",     /*  1 carbon monoxide */
    "H2S",    /*  2 hydrogen sulphide */
    "O2",     /*  3 oxygen */
    "CH4",    /*  4 methane */
    "NO2",    /*  5 nitrogen dioxide */
    "NO",     /*  6 nitric oxide */
    "SO2",    /*  7 sulphur dioxide */
    "H2",     /*  8 hydrogen */
    "NH3",    /*  9 ammonia */
    "Cl2",    /* 10 chlorine */
    "HCN",    /* 11 hydrogen cyanide */
    "PH3",    /* 12 phosphine */
    "CO2",    /* 13 carbon dioxide (infrared) */
    "O3",     /* 14 ozone */
    "ClO2",   /* 15 chlorine dioxide */
    "HCl",    /* 16 hydrogen chloride */
    "HF",     /* 17 hydrogen fluoride */
    "ETO",    /* 18 ethylene oxide */
    "C3H8",   /* 19 propane */
    "AsH3",   /* 20 arsine */
    "SiH4",   /* 21 silane */
    "COCl2",  /* 22 phosgene */
    "F2",     /* 23 fluorine */
    "Br2",    /* 24 bromine */
    "CH2O",   /* 25 formaldehyde */
    "C2H4",   /* 26 ethylene */
    "VOC",    /* 27 volatile organic compounds (PID) */
    "H2O2",   /* 28 hydrogen peroxide */
    "N2H4",   /* 29 hydrazine */
    "B2H6",   /* 30 diborane */
    "CH3SH",  /* 31 methyl mercaptan */
    "C4H10",  /* 32 butane */
    "C5H12",  /* 33 pentane */
    "C6H14",  /* 34 hexane */
    "C2H2",   /* 35 acetylene */
    "CH3OH",  /* 36 methanol */
};

static const char *const kUnits[] = {
    "ppm",   /* 0 parts per million */
    "ppb",   /* 1 parts per billion */
    "%Vol",  /* 2 percent by volume */
    "%LEL",  /* 3 percent of the lower explosive limit */
    "mg/m3", /* 4 milligrams per cubic metre */
    "ug/m3", /* 5 micrograms per cubic metre */
    "%UEG",  /* 6 percent of the lower explosive limit (German) */
    "mV",    /* 7 raw sensor signal */
};

#define COUNT_OF(a) ((int32_t)(sizeof(a) / sizeof((a)[0])))

/* Copies text into buffer, cut to what the buffer and the contract allow,
 * and terminates it. Returns the length written or -1. */
static int32_t PutText(const char *text, char *buffer, int32_t size)
{
    if (buffer == NULL || size <= 0)
        return -1;
    size_t limit = (size_t)size - 1;
    if (limit > KALTEX32_TEXT_MAX)
        limit = KALTEX32_TEXT_MAX;
    size_t length = strlen(text);
    if (length > limit)
        length = limit;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return (int32_t)length;
}

static int32_t LookUp(const char *const *table, int32_t entries, const char *unknownLabel,
                      int32_t selector, int32_t code, char *buffer, int32_t size)
{
    if (selector != 0) {
        PutText("", buffer, size);
        return -1;
    }
    if (code >= 0 && code < entries)
        return PutText(table[code], buffer, size);
    /* Unknown codes are marked so a technician sees the code, never garbage. */
    char marked[KALTEX32_TEXT_MAX + 1];
    snprintf(marked, sizeof marked, "%s #%ld", unknownLabel, (long)code);
    return PutText(marked, buffer, size);
}

int32_t KALTEX32_CALL GasNameText(int32_t selector, int32_t code, char *buffer, int32_t size)
{
    return LookUp(kGasNames, COUNT_OF(kGasNames), "Gas", selector, code, buffer, size);
}

int32_t KALTEX32_CALL GasUnitText(int32_t selector, int32_t code, char *buffer, int32_t size)
{
    return LookUp(kUnits, COUNT_OF(kUnits), "Unit", selector, code, buffer, size);
}
