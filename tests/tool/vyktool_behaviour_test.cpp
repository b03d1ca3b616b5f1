// What callers of VykTool rely on, run against whichever binding the test
// program provides (loaded at run time, or linked from C). Text buffers are
// allocated at exactly the documented size, so the sanitizer build catches any
// write or read beyond it.
#include "VykToolApi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

class VykTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        api = VykToolUnderTest();
        ASSERT_NE(api, nullptr) << "VykTool could not be bound";
    }
    const VykToolApi *api = nullptr;
};

// A heap buffer of exactly `size` bytes holding `text`.
struct Buffer {
    Buffer(const std::string &text, std::size_t size) : bytes(size)
    {
        std::memcpy(bytes.data(), text.c_str(), text.size() + 1);
    }
    char *get() { return bytes.data(); }
    std::string str() const { return bytes.data(); }
    std::vector<char> bytes;
};

#if !defined(_WIN32)
// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name)
    {
        if (const char *old = std::getenv(name))
            old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char *name_;
    std::optional<std::string> old_;
};
#endif

TEST_F(VykTool, SecondsAndDateTimeReferenceValues)
{
    EXPECT_EQ(api->SekToDateTime(0), 29221.0);
    EXPECT_EQ(api->SekToDateTime(86400), 29222.0);
    EXPECT_DOUBLE_EQ(api->SekToDateTime(3600), 29221.0 + 1.0 / 24);
    EXPECT_EQ(api->DateTimeToSek(36526.0), 631152000); // 2000-01-01
    // Ties at odd multiples of 1/256 day (337.5 s) go to the even second.
    const struct { int per256; std::int32_t seconds; } ties[] = {
        {1, 338}, {3, 1012}, {5, 1688}, {7, 2362}, {-1, -338}, {-3, -1012}, {-5, -1688}};
    for (const auto &tie : ties)
        EXPECT_EQ(api->DateTimeToSek(29221.0 + tie.per256 / 256.0), tie.seconds) << tie.per256;
}

TEST_F(VykTool, RoundTripOverTheWholeSignedRange)
{
    std::int64_t checked = 0;
    auto check = [&](std::int64_t s) {
        const auto seconds = static_cast<std::int32_t>(s);
        ASSERT_EQ(api->DateTimeToSek(api->SekToDateTime(seconds)), seconds);
        ++checked;
    };
    for (std::int64_t s = INT32_MIN; s <= INT32_MAX; s += 1021)
        check(s);
    for (std::int64_t d = 0; d < 5000; ++d) {
        check(INT32_MIN + d);
        check(INT32_MAX - d);
        check(d - 2500);
    }
    EXPECT_GT(checked, 1000000);
}

TEST_F(VykTool, DateTimesThatCannotBeRoundedGiveZeroAndLargeOnesWrap)
{
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {std::nan(""), inf, -inf, 1e300, -1e300, 29221.0 + std::ldexp(1.0, 47)})
        EXPECT_EQ(api->DateTimeToSek(bad), 0) << bad;
    EXPECT_EQ(api->DateTimeToSek(29221.0 + 30000), -1702967296);       // 2592000000 s
    EXPECT_EQ(api->DateTimeToSek(29221.0 - 30000), 1702967296);
    EXPECT_EQ(api->DateTimeToSek(29221.0 + std::ldexp(1.0, 40) + 1), 86400);
}

TEST_F(VykTool, Numbers)
{
    EXPECT_EQ(api->ScalVal(2.5, 4.0, -1.0), 9.0);
    EXPECT_EQ(api->Exp10(3), 1000.0);
    EXPECT_EQ(api->Exp10(-2), 0.01);
    EXPECT_DOUBLE_EQ(api->Exp10(0.5), std::sqrt(10.0));
    const struct { std::int32_t slot, places; } dzp[] = {
        {-2, 2}, {0, 0}, {3, 0}, {254, 2}, {0x7FFFFF02, 0}, {0x180, 128}, {-1000, 0}};
    for (const auto &c : dzp)
        EXPECT_EQ(api->GetDZP(c.slot), c.places) << c.slot;
    EXPECT_DOUBLE_EQ(api->GetRealVal(1234, -2), 12.34);
    EXPECT_EQ(api->GetRealVal(5, 3), 5000.0);
    EXPECT_EQ(api->GetRealVal(5, 0x103), 5000.0);
    EXPECT_DOUBLE_EQ(api->GetRealVal(-7, 254), -0.07);
}

TEST_F(VykTool, CmpBufferComparesAbsoluteCountAndStopsAtFirstDifference)
{
    const unsigned char a[] = {1, 2, 3, 4};
    const unsigned char b[] = {1, 2, 9, 4};
    EXPECT_EQ(api->CmpBuffer(a, b, 0), 1);
    EXPECT_EQ(api->CmpBuffer(nullptr, nullptr, 5), 1);
    EXPECT_EQ(api->CmpBuffer(a, nullptr, 1), 0);
    EXPECT_EQ(api->CmpBuffer(a, b, 2), 1);
    EXPECT_EQ(api->CmpBuffer(a, b, -2), 1);
    EXPECT_EQ(api->CmpBuffer(a, b, -3), 0);
    EXPECT_EQ(api->CmpBuffer(a, b, 3), 0);
    // One-byte heap buffers compared over a long count: reading on would overflow.
    const std::vector<unsigned char> x{7}, y{8};
    EXPECT_EQ(api->CmpBuffer(x.data(), y.data(), INT32_MIN), 0);
}

#if !defined(_WIN32) // Windows takes the language from the user's settings, not the environment
TEST_F(VykTool, GetSysLangFollowsTheMessagesLocale)
{
    const struct { const char *all, *messages, *lang; std::int32_t expected; } cases[] = {
        {"de_DE.UTF-8", "en_US", "en_US", 7}, {"", "en_GB", "de_DE", 9},
        {nullptr, nullptr, "de_AT@euro", 7}, {nullptr, nullptr, "de", 7},
        {nullptr, nullptr, "deu", 9}, {nullptr, "C", "de_DE", 9}, {nullptr, nullptr, nullptr, 9}};
    for (const auto &c : cases) {
        ScopedEnv all("LC_ALL", c.all), messages("LC_MESSAGES", c.messages), lang("LANG", c.lang);
        EXPECT_EQ(api->GetSysLang(), c.expected) << (c.lang ? c.lang : "(none)");
    }
}
#endif

TEST_F(VykTool, SwapsWalkARecordFieldByField)
{
    unsigned char record[] = {1, 2, 3, 4, 5, 6, 7};
    void *p = api->Swap2(record);
    EXPECT_EQ(p, record + 2);
    p = api->Swap4(p);
    EXPECT_EQ(p, record + 6);
    const unsigned char expected[] = {2, 1, 6, 5, 4, 3, 7};
    EXPECT_EQ(std::memcmp(record, expected, sizeof record), 0);
    EXPECT_EQ(api->Swap2(nullptr), nullptr);
    EXPECT_EQ(api->Swap4(nullptr), nullptr);
}

TEST_F(VykTool, BuildChkSumReferenceValues)
{
    EXPECT_EQ(api->BuildChkSum("", 0, 2), 0x3418);
    EXPECT_EQ(api->BuildChkSum("", 0, 3), 0x1834);
    EXPECT_EQ(api->BuildChkSum("abc", 3, 2), 0xBF1B);
    EXPECT_EQ(api->BuildChkSum("abc", 3, 3), 0x1BBF);
    EXPECT_EQ(api->BuildChkSum("123456789", 9, 2), 0x661F);
    EXPECT_EQ(api->BuildChkSum("123456789", 9, 3), 0x1F66);
    for (std::uint16_t type : {0, 1, 4, 0xFFFF})
        EXPECT_EQ(api->BuildChkSum("abc", 3, type), 0) << type;
    EXPECT_EQ(api->BuildChkSum(nullptr, 3, 2), 0);
}

TEST_F(VykTool, FillRoutinesGiveExactlyTheWidthAndKeepTheLeftPart)
{
    using Fill = char *(VYKTOOL_CALL *)(char *, int32_t, int32_t);
    const struct { Fill fill; const char *text; std::int32_t width, slot; const char *expected; } cases[] = {
        {api->StrFillRChar, "abc", 5, ' ', "abc  "}, {api->StrFillLChar, "7", 3, '0', "007"},
        {api->StrFillLChar, "abcdef", 3, '*', "abc"}, {api->StrFillRChar, "abcdef", 3, '*', "abc"},
        {api->StrFillRChar, "abc", 3, '*', "abc"}, {api->StrFillLChar, "", 2, 0x12A, "**"},
        {api->StrFillRChar, "abc", 0, '*', ""}, {api->StrFillLChar, "abc", -4, '*', ""}};
    for (const auto &c : cases) {
        Buffer buf(c.text, std::max<std::size_t>(std::strlen(c.text), std::max(c.width, 0)) + 1);
        EXPECT_EQ(c.fill(buf.get(), c.width, c.slot), buf.get());
        EXPECT_EQ(buf.str(), c.expected) << c.text << " " << c.width;
    }
    Buffer right("abc", 6), left("abcdef", 7);
    EXPECT_EQ(std::string(api->StrFillR(right.get(), 5)), "abc  ");
    EXPECT_EQ(std::string(api->StrFillL(left.get(), 3)), "abc");
    Buffer shortLeft("ab", 5);
    EXPECT_EQ(std::string(api->StrFillL(shortLeft.get(), 4)), "  ab");
    EXPECT_EQ(api->StrFillR(nullptr, 3), nullptr);
}

TEST_F(VykTool, StrSplittInsertsTheMarkBeforeTheDecimals)
{
    const struct { const char *text; std::int32_t decimals, mark; const char *expected; } cases[] = {
        {"12345", 2, '.', "123.45"}, {"5", 2, '.', "  . 5"}, {"12345", 0, '.', "12345."},
        {"12", 2, 0x12C, "  ,12"}, {"123", 1, '.', "12.3"}, {"1", 0, '.', " 1."},
        {"123", -1, '.', "123."}, {"", -1, '.', " ."}, {"12", INT32_MIN, '.', "12."}};
    for (const auto &c : cases) {
        const std::int64_t length = std::strlen(c.text);
        Buffer buf(c.text, std::max<std::int64_t>(length, std::int64_t{c.decimals} + 2) + 2);
        EXPECT_EQ(api->StrSplitt(buf.get(), c.decimals, c.mark), buf.get());
        EXPECT_EQ(buf.str(), c.expected) << c.text << " " << c.decimals;
    }
}

TEST_F(VykTool, SubStrTakesARecordApartFieldByField)
{
    Buffer src("a;bc;;def", 10), dst("", 11);
    std::string fields;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(api->SubStr(src.get(), dst.get(), ';', 10), dst.get());
        fields += "[" + dst.str() + "]";
    }
    EXPECT_EQ(fields, "[a][bc][][def]");
    EXPECT_EQ(src.str(), "");

    const struct { const char *src; std::int32_t separator, limit; const char *field, *rest; } cases[] = {
        {"xyz;w", ';', 1, "x", "w"}, {"end", ';', 10, "end", ""}, {"long field;x", ';', -1, "long field", "x"},
        {"a,b", 0x12C, 5, "a", "b"}, {"a;b", 0, 5, "a;b", ""}};
    for (const auto &c : cases) {
        Buffer in(c.src, std::strlen(c.src) + 1), out("", std::strlen(c.src) + 1);
        api->SubStr(in.get(), out.get(), c.separator, c.limit);
        EXPECT_EQ(out.str() + "|" + in.str(), std::string(c.field) + "|" + c.rest) << c.src;
    }

    Buffer untouched("a;b", 4), keep("old", 4);
    EXPECT_EQ(api->SubStr(untouched.get(), keep.get(), ';', 0), keep.get());
    EXPECT_EQ(api->SubStr(nullptr, keep.get(), ';', 3), keep.get());
    EXPECT_EQ(api->SubStr(untouched.get(), nullptr, ';', 3), nullptr);
    EXPECT_EQ(untouched.str() + keep.str(), "a;bold");
}

} // namespace
