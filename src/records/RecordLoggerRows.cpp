#include "RecordLoggerRows.h"

#include "RecordSql.h"

#include <tuple>

namespace r310::records::detail {

QByteArray LoggerLayout(const std::vector<logs::LoggerBlock> &blocks)
{
    QByteArray layout;
    for (const logs::LoggerBlock &block : blocks) {
        const logs::LoggerBlockHeader &h = block.header;
        PutU16(layout, h.state);
        PutI32(layout, h.firstSampleTime);
        PutU16(layout, h.interval);
        layout.append(static_cast<char>(h.reportedSamples));
        layout.append(static_cast<char>(h.setCount));
        layout.append(static_cast<char>(block.sets.size()));
        for (const logs::LoggerSampleSet &set : block.sets) {
            layout.append(static_cast<char>(set.state));
            layout.append(static_cast<char>(set.gasCode));
            layout.append(static_cast<char>(set.unitCode));
            layout.append(static_cast<char>(set.exponent));
            PutU16(layout, set.alarmBits);
        }
    }
    return layout;
}

std::optional<std::vector<logs::LoggerBlock>> BlocksOfLayout(const QByteArray &layout)
{
    std::vector<logs::LoggerBlock> blocks;
    Reader in(layout);
    while (!in.atEnd()) {
        if (!in.ok(11))
            return std::nullopt;
        logs::LoggerBlock block;
        block.header.state = in.u16();
        block.header.firstSampleTime = in.i32();
        block.header.interval = in.u16();
        block.header.reportedSamples = in.u8();
        block.header.setCount = in.u8();
        const int sets = in.u8();
        for (int k = 0; k < sets; ++k) {
            if (!in.ok(6))
                return std::nullopt;
            logs::LoggerSampleSet set;
            set.state = in.u8();
            set.gasCode = in.u8();
            set.unitCode = in.u8();
            set.exponent = static_cast<std::int8_t>(in.u8());
            set.alarmBits = in.u16();
            block.sets.push_back(set);
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

bool DigestOrder(const SampleRow &a, const SampleRow &b)
{
    return std::tie(a.gas, a.unit, a.time, a.blockTime, a.setNumber, a.first)
         < std::tie(b.gas, b.unit, b.time, b.blockTime, b.setNumber, b.first);
}

QByteArray SampleRowBytes(const SampleRow &row, int count)
{
    QByteArray bytes = SampleRunBytes(row.gas, row.unit, row.time, row.step, count, row.exponent, row.alarm, row.raws);
    PutI32(bytes, row.blockTime);
    bytes.append(static_cast<char>(row.setNumber));
    bytes.append(static_cast<char>(row.first));
    return bytes;
}

} // namespace r310::records::detail
