// KALTEX32 as its callers bind it, checked against its contract: a
// terminated text of at most 20 characters in a 21-byte buffer, whatever the
// code.
#include "KaltexApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace {

constexpr std::uint8_t kFill = 0xAA;

class Kaltex : public ::testing::Test {
protected:
    void SetUp() override
    {
        const KaltexApi *api = KaltexUnderTest();
        ASSERT_NE(api, nullptr) << KaltexBindError();
        m_name = api->GasNameText;
        m_unit = api->GasUnitText;
    }

    // Calls with a buffer larger than announced, so writes past it show.
    static std::string Text(KaltexTextFunction f, std::int32_t code, std::int32_t size = 21,
                            std::int32_t selector = 0)
    {
        std::array<char, 64> buffer;
        buffer.fill(static_cast<char>(kFill));
        f(selector, code, buffer.data(), size);
        const std::size_t length = strnlen(buffer.data(), buffer.size());
        EXPECT_LT(length, static_cast<std::size_t>(std::clamp(size, 1, 21))) << "code " << code;
        for (std::size_t i = static_cast<std::size_t>(std::max(size, 0)); i < buffer.size(); ++i)
            EXPECT_EQ(static_cast<std::uint8_t>(buffer[i]), kFill) << "wrote past the buffer, code " << code;
        return std::string(buffer.data(), std::min(length, buffer.size()));
    }

    KaltexTextFunction m_name = nullptr;
    KaltexTextFunction m_unit = nullptr;
};

TEST_F(Kaltex, KnownAndUnknownCodes)
{
    EXPECT_EQ(Text(m_name, 0), "EX");
    EXPECT_EQ(Text(m_name, 1), "CO");
    EXPECT_EQ(Text(m_name, 2), "H2S");
    EXPECT_EQ(Text(m_unit, 0), "ppm");
    EXPECT_EQ(Text(m_unit, 3), "%LEL");
    EXPECT_EQ(Text(m_name, 200), "Gas #200");
    EXPECT_EQ(Text(m_unit, 255), "Unit #255");
    EXPECT_EQ(Text(m_name, 1, 21, 1), ""); // only selector 0 has a table
}

TEST_F(Kaltex, EveryCodeGivesATerminatedPrintableText)
{
    for (std::int32_t code = -1; code <= 256; ++code) {
        for (KaltexTextFunction f : {m_name, m_unit}) {
            const std::string text = Text(f, code);
            EXPECT_FALSE(text.empty()) << "code " << code;
            for (char c : text)
                EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "code " << code;
        }
    }
}

TEST_F(Kaltex, SmallOrMissingBuffersAreNeverOverrun)
{
    EXPECT_EQ(Text(m_name, 200, 4), "Gas");
    EXPECT_EQ(Text(m_unit, 4, 1), "");
    // A larger buffer still gets at most 20 characters.
    EXPECT_EQ(Text(m_name, -2147483647 - 1, 60), "Gas #-2147483648");
    EXPECT_EQ(Text(m_name, -2147483647 - 1, 17), "Gas #-2147483648");
    std::array<char, 4> untouched{'x', 'y', 'z', '\0'};
    EXPECT_EQ(m_name(0, 1, untouched.data(), 0), -1);
    EXPECT_STREQ(untouched.data(), "xyz");
    EXPECT_EQ(m_unit(0, 1, nullptr, 21), -1);
}

} // namespace
