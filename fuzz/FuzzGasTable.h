#pragma once
// The real gas table library KALTEX32 of the fuzz build, loaded once from
// the build folder, so that gas and unit texts are what the product shows.
// A target that needs it stops at its start when the library is missing:
// fuzzing without it would quietly leave the gas texts out.
#include <DecodeAnswer.h>
#include <GasTable.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace r310::fuzz {

inline const GasTable &FuzzGasTable()
{
    static const std::unique_ptr<GasTable> table = [] {
        QString error;
        std::unique_ptr<GasTable> loaded = GasTable::Load({QStringLiteral(R310_FUZZ_LIBRARY_DIR)}, &error);
        if (!loaded) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            std::abort();
        }
        return loaded;
    }();
    return *table;
}

inline GasTextLookup FuzzGasTexts()
{
    const GasTable *table = &FuzzGasTable();
    return [table](std::uint8_t unitCode, std::uint8_t gasCode) { return table->GasTexts(unitCode, gasCode); };
}

} // namespace r310::fuzz
