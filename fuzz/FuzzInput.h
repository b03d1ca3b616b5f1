#pragma once
// What every fuzz target shares: a reader that takes values off the front
// of libFuzzer's input (zeros once it is used up, so every input is a valid
// one), the two regional settings the product is tested in, and a check
// that stops the run with a message when the code broke a promise.
#include <QByteArray>
#include <QLocale>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace r310::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return position_ >= size_; }
    std::size_t remaining() const { return size_ - position_; }

    std::uint8_t byte() { return empty() ? 0 : data_[position_++]; }

    // Little-endian, as the instrument's payloads.
    std::uint16_t u16()
    {
        const std::uint16_t low = byte();
        return static_cast<std::uint16_t>(low | (byte() << 8));
    }
    std::uint32_t u32()
    {
        const std::uint32_t low = u16();
        return low | (static_cast<std::uint32_t>(u16()) << 16);
    }
    std::int16_t i16() { return static_cast<std::int16_t>(u16()); }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    double real()
    {
        std::uint64_t bits = u32();
        bits |= static_cast<std::uint64_t>(u32()) << 32;
        double value = 0.0;
        static_assert(sizeof value == sizeof bits, "double is 64 bits");
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // Up to n bytes (fewer when the input ends first).
    std::vector<std::uint8_t> bytes(std::size_t n)
    {
        const std::size_t taken = n < remaining() ? n : remaining();
        std::vector<std::uint8_t> out(data_ + position_, data_ + position_ + taken);
        position_ += taken;
        return out;
    }
    // Exactly n bytes, the missing ones zero.
    std::vector<std::uint8_t> padded(std::size_t n)
    {
        std::vector<std::uint8_t> out = bytes(n);
        out.resize(n, 0);
        return out;
    }
    std::vector<std::uint8_t> rest() { return bytes(remaining()); }
    QByteArray restAsBytes()
    {
        const std::vector<std::uint8_t> taken = rest();
        return QByteArray(reinterpret_cast<const char *>(taken.data()), static_cast<qsizetype>(taken.size()));
    }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// The regional settings every test of the product runs in.
inline const QLocale &GermanLocale()
{
    static const QLocale locale(QLocale::German, QLocale::Germany);
    return locale;
}
inline const QLocale &EnglishLocale()
{
    static const QLocale locale(QLocale::English, QLocale::UnitedStates);
    return locale;
}

// A broken promise of the code under test: libFuzzer records the input.
[[noreturn]] inline void Broken(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: broken: %s\n", file, line, what);
    std::abort();
}

} // namespace r310::fuzz

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::r310::fuzz::Broken(#condition, __FILE__, __LINE__);                                                      \
    } while (false)
