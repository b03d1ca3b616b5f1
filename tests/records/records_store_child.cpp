// A program that stores logger downloads through the record store, for the
// test that kills it while it stores: a small download it reports as
// "stored", then a large one announced with "storing" before it begins.
//   records_store_child FILE BLOCKS
#include "LoggerBlocks.h"

#include <RecordStore.h>

#include <QCoreApplication>

#include <cstdio>

using namespace r310;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3)
        return 2;
    QString error;
    auto store = records::RecordStore::Open(records::ParseRecordsUrl(arguments[1]).target, &error);
    if (!store) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QString serial = QStringLiteral("00000042");
    if (!store->AppendLogger(serial, {}, recordstest::LoggerBlocks(3, 100000000, 2)).ok)
        return 1;
    const std::vector<logs::LoggerBlock> large = recordstest::LoggerBlocks(arguments[2].toInt(), 200000000, 2);
    std::printf("stored\nstoring\n");
    std::fflush(stdout);
    const bool ok = store->AppendLogger(serial, {}, large).ok;
    std::printf("%s\n", ok ? "done" : "failed");
    return ok ? 0 : 1;
}
