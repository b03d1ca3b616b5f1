// A program that stores logger downloads through the record store, for the
// test that kills it while it stores: a small download it reports as
// "stored", then a large one announced with "storing" before it begins.
//   records_store_child FILE BLOCKS
#include <RecordStore.h>

#include <QCoreApplication>

#include <cstdio>

using namespace r310;

namespace {

// `count` blocks of two gases, 15 samples each, logged back to back from `start`.
std::vector<logs::LoggerBlock> Blocks(int count, std::int32_t start)
{
    std::vector<logs::LoggerBlock> blocks;
    blocks.reserve(static_cast<std::size_t>(count));
    for (int b = 0; b < count; ++b) {
        logs::LoggerBlock block;
        block.header = {logs::kValidState, start + b * 15 * 30, 30, 15, 2};
        for (std::uint8_t gas : {1, 2}) {
            logs::LoggerSampleSet set;
            set.state = logs::kValidState;
            set.gasCode = gas;
            set.unitCode = 1;
            set.exponent = -1;
            for (int i = 0; i < logs::kSamplesPerSet; ++i)
                set.samples[static_cast<std::size_t>(i)] = static_cast<std::int16_t>((b * 7 + i * 13 + gas) % 3000);
            block.sets.push_back(set);
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

} // namespace

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
    if (!store->AppendLogger(serial, {}, Blocks(3, 100000000)).ok)
        return 1;
    const std::vector<logs::LoggerBlock> large = Blocks(arguments[2].toInt(), 200000000);
    std::printf("stored\nstoring\n");
    std::fflush(stdout);
    const bool ok = store->AppendLogger(serial, {}, large).ok;
    std::printf("%s\n", ok ? "done" : "failed");
    return ok ? 0 : 1;
}
