#pragma once
// A client's view of the simulated instrument for tests: requests built with
// the configurator's codec, answers assembled byte by byte as the
// configurator does, payload fields read at fixed offsets.
#include "Device.h"
#include "Scenario.h"
#include "SimClock.h"

#include <R310_typ.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

// The flags of a data answer.
constexpr std::uint8_t kData = 0xC0;

// Little-endian reads written apart from the simulator's own helpers.
inline int U8(const Bytes &p, std::size_t at) { return p.at(at); }
inline int S8(const Bytes &p, std::size_t at) { return static_cast<std::int8_t>(p.at(at)); }
inline int U16(const Bytes &p, std::size_t at) { return p.at(at) | (p.at(at + 1) << 8); }
inline int S16(const Bytes &p, std::size_t at) { return static_cast<std::int16_t>(U16(p, at)); }
inline std::uint32_t U32(const Bytes &p, std::size_t at)
{
    return static_cast<std::uint32_t>(U16(p, at)) | (static_cast<std::uint32_t>(U16(p, at + 2)) << 16);
}

// A payload field: how it is read, its offset, and the value it must hold.
struct Field {
    std::int64_t (*read)(const Bytes &, std::size_t);
    std::size_t at;
    std::int64_t value;
};
constexpr auto kU8 = +[](const Bytes &p, std::size_t at) -> std::int64_t { return U8(p, at); };
constexpr auto kS8 = +[](const Bytes &p, std::size_t at) -> std::int64_t { return S8(p, at); };
constexpr auto kU16 = +[](const Bytes &p, std::size_t at) -> std::int64_t { return U16(p, at); };
constexpr auto kS16 = +[](const Bytes &p, std::size_t at) -> std::int64_t { return S16(p, at); };
constexpr auto kU32 = +[](const Bytes &p, std::size_t at) -> std::int64_t { return U32(p, at); };
// Each field checked on its own, named by its offset where it differs.
inline void ExpectFields(const Bytes &payload, std::initializer_list<Field> fields)
{
    for (const Field &f : fields)
        EXPECT_EQ(f.read(payload, f.at), f.value) << "field at offset " << f.at;
}

inline Bytes Le16(int v) { return {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>((v >> 8) & 0xFF)}; }

// A scenario without line timing, for exchanges that only look at contents.
inline r310::sim::Scenario Quiet()
{
    r310::sim::Scenario s;
    s.pacing = false;
    return s;
}

inline Bytes Request(std::uint8_t object, std::uint8_t flags, const Bytes &payload = {})
{
    return r310::EncodeFrame(object, flags, payload);
}

// All bytes of a list of emissions, in order.
inline Bytes Joined(const std::vector<r310::sim::Emission> &emissions)
{
    Bytes all;
    for (const auto &e : emissions)
        all.insert(all.end(), e.bytes.begin(), e.bytes.end());
    return all;
}

struct Assembled {
    std::int32_t status = 0;
    r310::Frame frame;
};

// Feeds bytes to the configurator's assembler; stops at the first complete frame.
inline Assembled Assemble(const Bytes &bytes)
{
    r310::ReceiveBuffer buffer;
    Assembled result;
    for (std::uint8_t b : bytes) {
        result.status = r310::AssembleByte(b, buffer);
        if (result.status != 0)
            break;
    }
    if (result.status == 1)
        result.frame = r310::FrameFromBuffer(buffer);
    return result;
}

class Harness {
public:
    explicit Harness(const r310::sim::Scenario &scenario = Quiet())
        : clock(std::make_shared<r310::sim::ManualClock>()), device(scenario, clock)
    {
    }

    std::vector<r310::sim::Emission> send(const Bytes &request) { return device.receive(request); }

    // One exchange; the answer must be a good frame.
    r310::Frame exchange(std::uint8_t object, std::uint8_t flags, const Bytes &payload = {})
    {
        const Assembled a = Assemble(Joined(send(Request(object, flags, payload))));
        lastStatus = a.status;
        return a.frame;
    }
    r310::Frame read(std::uint8_t object, const Bytes &selector = {})
    {
        return exchange(object, r310::kFlagsRead, selector);
    }
    r310::Frame write(std::uint8_t object, const Bytes &payload) { return exchange(object, r310::kFlagsWrite, payload); }

    std::shared_ptr<r310::sim::ManualClock> clock;
    r310::sim::Device device;
    std::int32_t lastStatus = 0;
};

} // namespace simtest
