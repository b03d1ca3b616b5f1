// Checksums and the frame codec: reference values, example frames, and the
// awkward byte streams a serial line produces.
#include "Chksum.h"
#include "R310_typ.h"
#include "ReferenceCrc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace r310;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Ascii(const std::string &s) { return Bytes(s.begin(), s.end()); }

std::uint16_t Checksum(ChecksumMode mode, const Bytes &data)
{
    return ComputeChecksum(mode, data.data(), static_cast<std::int32_t>(data.size()));
}

// Feeds bytes and returns the status after each one.
std::vector<std::int32_t> Feed(ReceiveBuffer &rb, const Bytes &bytes)
{
    std::vector<std::int32_t> out;
    for (auto b : bytes)
        out.push_back(AssembleByte(b, rb));
    return out;
}

Bytes Response(std::uint8_t object, std::uint8_t flags, const Bytes &payload)
{
    return EncodeFrame(object, flags, payload);
}

} // namespace

TEST(Checksum, ReferenceValuesOfAllModes)
{
    const Bytes abc = Ascii("abc");
    const Bytes digits = Ascii("123456789");
    EXPECT_EQ(Checksum(kChecksumShift, abc), 0xBF1B);
    EXPECT_EQ(Checksum(kChecksumShiftSwapped, abc), 0x1BBF);
    EXPECT_EQ(Checksum(kChecksumShift, digits), 0x661F);
    EXPECT_EQ(Checksum(kChecksumShiftSwapped, digits), 0x1F66);
    EXPECT_EQ(Checksum(kChecksumByteSum, abc), 0x26);
    EXPECT_EQ(Checksum(kChecksumByteSum, digits), 0xDD);
    EXPECT_EQ(Checksum(kChecksumFrameCrc, digits), 0x29B1);
    EXPECT_EQ(Checksum(kChecksumFrameCrc, abc), 0x514A);
}

TEST(Checksum, EmptyAndNegativeLengthGiveStartValues)
{
    const std::uint8_t dummy = 0x55;
    const std::uint16_t expected[] = {0x3418, 0x1834, 0x00, 0xFFFF};
    for (std::uint8_t mode = 0; mode < 4; ++mode) {
        const auto checksumMode = static_cast<ChecksumMode>(mode);
        EXPECT_EQ(ComputeChecksum(checksumMode, &dummy, 0), expected[mode]) << int(mode);
        EXPECT_EQ(ComputeChecksum(checksumMode, &dummy, -5), expected[mode]) << int(mode);
    }
}

TEST(Checksum, TableCrcMatchesBitwiseCrcOnVariedData)
{
    Bytes data;
    for (int len = 0; len < 300; ++len) {
        EXPECT_EQ(Checksum(kChecksumFrameCrc, data), r310test::BitwiseCrc(data)) << len;
        data.push_back(static_cast<std::uint8_t>(len * 37 + 11));
    }
}

TEST(Checksum, Swap2ExchangesAndAdvances)
{
    std::uint8_t b[3] = {1, 2, 3};
    EXPECT_EQ(Swap2(b), b + 2);
    EXPECT_EQ(b[0], 2);
    EXPECT_EQ(b[1], 1);
    EXPECT_EQ(b[2], 3);
}

TEST(FrameCodec, ExampleFramesByteForByte)
{
    RequestBuffer buffer{};
    BuildConnectRequest(buffer);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 9),
              (Bytes{0x56, 0x59, 0x4B, 0x34, 0x01, 0x60, 0x00, 0xA5, 0x9F}));
    BuildReadRequest(2, buffer);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 9),
              (Bytes{0x56, 0x59, 0x4B, 0x34, 0x02, 0x00, 0x00, 0xF7, 0xE5}));
}

TEST(FrameCodec, EveryBuilderFrameVerifiesAgainstIndependentCrc)
{
    for (int n = 0; n <= kMaxPayload; n += 7) {
        for (int kind = 0; kind < 2; ++kind) {
            RequestBuffer buffer{};
            for (int i = 0; i < n; ++i)
                buffer[kOffsetPayload + i] = static_cast<std::uint8_t>(i * 13 + n);
            const bool ok = kind == 0 ? BuildWriteRequest(31, n, buffer)
                                      : BuildSelectReadRequest(38, n, buffer);
            ASSERT_TRUE(ok);
            const Bytes frame(buffer.begin(), buffer.begin() + n + 9);
            EXPECT_EQ(frame[5], kind == 0 ? 0x60 : 0x00);
            EXPECT_EQ(frame[6], n);
            const std::uint16_t crc = r310test::BitwiseCrc(Bytes(frame.begin(), frame.end() - 2));
            EXPECT_EQ(frame[n + 7], crc >> 8);
            EXPECT_EQ(frame[n + 8], crc & 0xFF);
            EXPECT_EQ(Checksum(kChecksumFrameCrc, frame), 0) << "a whole frame sums to 0";
        }
    }
}

TEST(FrameCodec, OversizedPayloadIsRefusedWithoutTouchingTheBuffer)
{
    RequestBuffer buffer{};
    buffer.fill(0xAA);
    EXPECT_FALSE(BuildWriteRequest(3, 65, buffer));
    EXPECT_FALSE(BuildSelectReadRequest(3, 255, buffer));
    for (auto b : buffer)
        EXPECT_EQ(b, 0xAA);
}

TEST(Assembler, CompletesAtExactFrameLength)
{
    for (int n : {0, 1, 63, 64}) {
        Bytes payload(n, 0x42);
        const Bytes frame = Response(7, 0xC0, payload);
        ReceiveBuffer rb;
        const auto status = Feed(rb, frame);
        for (size_t i = 0; i + 1 < status.size(); ++i)
            EXPECT_EQ(status[i], 0) << "n=" << n << " byte " << i;
        EXPECT_EQ(status.back(), 1) << n;
        EXPECT_EQ(rb.count, n + 9);
        const Frame f = FrameFromBuffer(rb);
        EXPECT_EQ(f.object, 7);
        EXPECT_EQ(f.flags, 0xC0);
        EXPECT_EQ(f.payload, payload);
    }
}

TEST(Assembler, StrayFirstHeaderByteHidesTheFrame)
{
    Bytes stream{'V'};
    const Bytes frame = Response(2, 0xC0, {1, 2, 3});
    stream.insert(stream.end(), frame.begin(), frame.end());
    ReceiveBuffer rb;
    for (auto s : Feed(rb, stream))
        EXPECT_EQ(s, 0);
    // Other stray bytes are skipped and the frame still found.
    ReceiveBuffer rb2;
    Bytes stream2{0x00, 0xFF, 'Y'};
    stream2.insert(stream2.end(), frame.begin(), frame.end());
    EXPECT_EQ(Feed(rb2, stream2).back(), 1);
}

TEST(Assembler, OverlongLengthNeverCompletesAndResetsAt74thByte)
{
    Bytes stream{'V', 'Y', 'K', '4', 2, 0xC0, 65};
    stream.resize(73, 0x11);
    ReceiveBuffer rb;
    for (auto s : Feed(rb, stream))
        EXPECT_EQ(s, 0);
    EXPECT_EQ(rb.count, 73);
    EXPECT_EQ(AssembleByte('V', rb), 0) << "74th byte dropped";
    EXPECT_EQ(rb.count, 0);
    const Bytes good = Response(2, 0xC0, {9});
    EXPECT_EQ(Feed(rb, good).back(), 1) << "75th byte starts a header again";
}

TEST(Assembler, EchoedRequestIsDiscardedThenAnswerAccepted)
{
    RequestBuffer request{};
    BuildReadRequest(2, request);
    Bytes stream(request.begin(), request.begin() + 9);
    for (std::uint8_t flags : {0x00, 0x60}) {
        ReceiveBuffer rb;
        Bytes echo = Response(4, flags, {1, 2});
        for (auto s : Feed(rb, echo))
            EXPECT_EQ(s, 0);
        EXPECT_EQ(rb.count, 0);
    }
    const Bytes answer = Response(2, 0xC0, {5, 6});
    stream.insert(stream.end(), answer.begin(), answer.end());
    ReceiveBuffer rb;
    EXPECT_EQ(Feed(rb, stream).back(), 1);
}

TEST(Assembler, BytesAfterGoodFrameKeepVerdictUntilBufferFull)
{
    const Bytes frame = Response(2, 0xC0, {1, 2, 3, 4});
    ReceiveBuffer rb;
    EXPECT_EQ(Feed(rb, frame).back(), 1);
    int count = rb.count;
    while (count < 73) {
        EXPECT_EQ(AssembleByte(0x99, rb), 1);
        ++count;
    }
    EXPECT_EQ(AssembleByte(0x99, rb), 0);
    EXPECT_EQ(rb.count, 0);
}

TEST(Assembler, AnySingleCorruptedByte)
{
    const Bytes frame = Response(33, 0xC0, {10, 20, 30, 40, 50});
    for (size_t i = 0; i < frame.size(); ++i) {
        Bytes bad = frame;
        bad[i] ^= 0x01;
        ReceiveBuffer rb;
        const std::int32_t last = Feed(rb, bad).back();
        if (i < 4)
            EXPECT_EQ(last, 0) << "header byte " << i;
        else if (i == 5)
            EXPECT_NE(last, 1) << "flags byte";
        else if (i == 6)
            EXPECT_NE(last, 1) << "length byte";
        else
            EXPECT_EQ(last, -2) << "byte " << i;
    }
}

TEST(Assembler, BadCrcFrameKeepsVerdict)
{
    Bytes frame = Response(2, 0xC0, {1});
    frame.back() ^= 0xFF;
    ReceiveBuffer rb;
    EXPECT_EQ(Feed(rb, frame).back(), -2);
    EXPECT_EQ(AssembleByte(0, rb), -2);
}
