#include "link/Utils.h"

#include <array>

namespace {

// Bit-by-bit reflected remainder for polynomial 0xA001, bytes exchanged so the
// table works on the swapped register.
constexpr std::uint16_t SwappedTableEntry(std::uint32_t i)
{
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) {
        c = (c & 1u) != 0 ? (c >> 1) ^ 0xA001u : c >> 1;
    }
    return static_cast<std::uint16_t>(((c & 0xFFu) << 8) | (c >> 8));
}

constexpr std::array<std::uint16_t, 256> MakeCrcTable()
{
    std::array<std::uint16_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        t[i] = SwappedTableEntry(i);
    }
    return t;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();

static_assert(kCrcTable[0] == 0x0000 && kCrcTable[1] == 0xC1C0 && kCrcTable[2] == 0x81C1 &&
              kCrcTable[3] == 0x4001 && kCrcTable[7] == 0x41C2 && kCrcTable[255] == 0x4040);

}  // namespace

std::uint16_t Crc16(const TByteArray& data, std::int32_t high)
{
    // The count wraps to 16 bits unsigned, as the register width does.
    const auto count = static_cast<std::uint16_t>(high + 1);
    std::uint16_t r = 0xFFFF;
    for (std::size_t k = 0; k < count && k < data.size(); ++k) {
        const unsigned i = (data[k] ^ (r >> 8)) & 0xFFu;
        r = static_cast<std::uint16_t>(kCrcTable[i] ^ ((r << 8) & 0xFFFFu));
    }
    return r;
}

std::uint16_t Crc16TableEntry(std::uint8_t index)
{
    return kCrcTable[index];
}
