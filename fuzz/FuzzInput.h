// Reads fuzz input from the front, so that a seed file reads in field order.
// Past the end every read gives zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vostrel {

class TByteReader {
public:
    TByteReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }

    std::uint32_t U32()
    {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        }
        return v;
    }

    // Raw bits of the 80-bit extended format: every NaN, infinity, denormal
    // and the encodings the x87 unit itself calls invalid.
    long double RawExtended()
    {
        unsigned char bits[sizeof(long double)] = {};
        for (std::size_t i = 0; i < 10; ++i) {
            bits[i] = Byte();
        }
        long double v = 0;
        std::memcpy(&v, bits, sizeof v);
        return v;
    }

    const std::uint8_t* Rest() const { return m_data + m_pos; }
    std::size_t RestSize() const { return m_size - m_pos; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

}  // namespace vostrel
