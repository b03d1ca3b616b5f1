// The tool library's text and buffer routines with arbitrary texts, widths,
// lengths, fill and separator characters, called through its C interface as
// a program using the library calls them, each buffer exactly as large as
// the header says it must be (so AddressSanitizer sees one byte too many);
// and its number and date routines with arbitrary values.
//
// Input: a sequence of calls, each a routine byte and its arguments; texts
// are a length byte and that many bytes (a zero byte ends the text early,
// as in C).
//
// Checked: each routine leaves exactly the text its description promises.
#include "FuzzInput.h"

#include <VykTool.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace {

using r310::fuzz::FuzzInput;

using Buffer = std::vector<char>;

// The text as C sees it: up to the first zero byte.
std::string NextText(FuzzInput &input)
{
    const std::vector<std::uint8_t> bytes = input.bytes(input.byte());
    const auto end = std::find(bytes.begin(), bytes.end(), 0);
    return std::string(bytes.begin(), end);
}

// A buffer of `size` bytes holding the text and its zero.
Buffer BufferWith(const std::string &text, std::size_t size)
{
    Buffer buffer(std::max(size, text.size() + 1), 'X');
    std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
    return buffer;
}

char Low(std::int32_t slot)
{
    return static_cast<char>(static_cast<unsigned char>(slot & 0xFF));
}

// StrFillR, StrFillL and their ...Char forms: width + 1 bytes.
void Fill(FuzzInput &input)
{
    const int routine = input.byte() % 4;
    const std::int32_t width = input.i16();
    const std::int32_t fill = routine < 2 ? input.i32() : ' ';
    const std::string text = NextText(input);
    Buffer buffer = BufferWith(text, static_cast<std::size_t>(std::max(width, 0)) + 1);
    char *result = nullptr;
    switch (routine) {
    case 0: result = StrFillRChar(buffer.data(), width, fill); break;
    case 1: result = StrFillLChar(buffer.data(), width, fill); break;
    case 2: result = StrFillR(buffer.data(), width); break;
    default: result = StrFillL(buffer.data(), width); break;
    }
    FUZZ_CHECK(result == buffer.data());
    const std::size_t target = static_cast<std::size_t>(std::max(width, 0));
    std::string expected = text.substr(0, target);
    if (expected.size() < target) {
        const std::string padding(target - expected.size(), Low(fill));
        const bool padLeft = routine == 1 || routine == 3;
        expected = padLeft ? padding + expected : expected + padding;
    }
    FUZZ_CHECK(std::string(buffer.data(), target) == expected);
    FUZZ_CHECK(buffer[target] == '\0');
}

// StrSplitt: max(length, decimals + 2) + 2 bytes.
void Split(FuzzInput &input)
{
    const std::int32_t decimals = input.i16();
    const std::int32_t mark = input.i32();
    const std::string text = NextText(input);
    const std::int64_t length = std::max<std::int64_t>(static_cast<std::int64_t>(text.size()), decimals + 2);
    Buffer buffer = BufferWith(text, static_cast<std::size_t>(length) + 2);
    FUZZ_CHECK(StrSplitt(buffer.data(), decimals, mark) == buffer.data());
    // The text padded on the left to `length`, the mark before its last `decimals` characters.
    std::string padded = std::string(static_cast<std::size_t>(length) - text.size(), ' ') + text;
    const auto at = static_cast<std::size_t>(std::clamp<std::int64_t>(length - decimals, 0, length));
    padded.insert(at, 1, Low(mark));
    FUZZ_CHECK(std::string(buffer.data(), padded.size()) == padded);
    FUZZ_CHECK(buffer[padded.size()] == '\0');
}

// SubStr: dst holds limit + 1 bytes, or the whole field and its zero when
// limit is negative.
void Cut(FuzzInput &input)
{
    const std::int32_t separator = input.i32();
    const std::int32_t limit = input.i16();
    const std::string text = NextText(input);
    const char mark = Low(separator);
    const std::size_t found = mark != '\0' ? text.find(mark) : std::string::npos;
    const std::string field = text.substr(0, found);
    const std::string restAfter = found == std::string::npos ? std::string() : text.substr(found + 1);
    const std::size_t dstSize = limit > 0 ? static_cast<std::size_t>(limit) + 1 : field.size() + 1;

    Buffer src = BufferWith(text, text.size() + 1);
    Buffer dst(dstSize, 'X');
    FUZZ_CHECK(SubStr(src.data(), dst.data(), separator, limit) == dst.data());
    if (limit == 0) {
        FUZZ_CHECK(std::string(src.data()) == text);
        FUZZ_CHECK(dst[0] == 'X');
        return;
    }
    const std::size_t kept = limit > 0 ? std::min(field.size(), static_cast<std::size_t>(limit)) : field.size();
    FUZZ_CHECK(std::string(dst.data()) == field.substr(0, kept));
    FUZZ_CHECK(std::string(src.data()) == restAfter);
}

// CmpBuffer over |count| bytes of two buffers of exactly that size.
void Compare(FuzzInput &input)
{
    const std::size_t n = input.byte();
    const bool negative = (input.byte() & 1) != 0;
    const std::vector<std::uint8_t> first = input.padded(n);
    std::vector<std::uint8_t> second = first;
    if (n > 0) {
        const std::size_t at = input.byte() % n;
        second[at] = static_cast<std::uint8_t>(second[at] ^ input.byte());
    }
    const auto count = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(n) : static_cast<std::int64_t>(n));
    const bool equal = first == second;
    FUZZ_CHECK(CmpBuffer(first.data(), second.data(), count) == (equal ? 1 : 0));
    FUZZ_CHECK(CmpBuffer(first.data(), first.data(), std::numeric_limits<std::int32_t>::min()) == 1);
    FUZZ_CHECK(CmpBuffer(nullptr, second.data(), count) == (n == 0 ? 1 : 0));
}

// Swap2 and Swap4 on buffers of exactly 2 and 4 bytes; BuildChkSum over a
// length within its data.
void Bytes(FuzzInput &input)
{
    std::vector<std::uint8_t> two = input.padded(2);
    const std::vector<std::uint8_t> twoBefore = two;
    FUZZ_CHECK(Swap2(two.data()) == two.data() + 2);
    FUZZ_CHECK(two[0] == twoBefore[1] && two[1] == twoBefore[0]);
    std::vector<std::uint8_t> four = input.padded(4);
    const std::vector<std::uint8_t> fourBefore = four;
    FUZZ_CHECK(Swap4(four.data()) == four.data() + 4);
    FUZZ_CHECK(std::equal(four.begin(), four.end(), fourBefore.rbegin()));
    FUZZ_CHECK(Swap2(nullptr) == nullptr && Swap4(nullptr) == nullptr);

    const std::uint16_t type = input.u16();
    const std::vector<std::uint8_t> data = input.bytes(input.byte());
    const auto length = static_cast<std::uint16_t>(data.size());
    const std::uint16_t asComputed = BuildChkSum(data.data(), length, 2);
    const std::uint16_t swapped = BuildChkSum(data.data(), length, 3);
    FUZZ_CHECK(swapped == static_cast<std::uint16_t>((asComputed << 8) | (asComputed >> 8)));
    if (type != 2 && type != 3)
        FUZZ_CHECK(BuildChkSum(data.data(), length, type) == 0);
    if (length == 0)
        FUZZ_CHECK(asComputed == 0x3418);
}

// Numbers and dates.
void Numbers(FuzzInput &input)
{
    const std::int32_t seconds = input.i32();
    FUZZ_CHECK(DateTimeToSek(SekToDateTime(seconds)) == seconds);
    DateTimeToSek(input.real());

    const std::int32_t exponent = input.i32();
    const int low = exponent & 0xFF;
    const int signedLow = low < 0x80 ? low : low - 0x100;
    FUZZ_CHECK(GetDZP(exponent) == (signedLow <= 0 ? -signedLow : 0));
    GetRealVal(input.i32(), exponent);
    Exp10(input.real());
    const double value = input.real();
    const double factor = input.real();
    ScalVal(value, factor, input.real());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    while (!input.empty()) {
        switch (input.byte() % 6) {
        case 0: Fill(input); break;
        case 1: Split(input); break;
        case 2: Cut(input); break;
        case 3: Compare(input); break;
        case 4: Bytes(input); break;
        default: Numbers(input); break;
        }
    }
    return 0;
}
