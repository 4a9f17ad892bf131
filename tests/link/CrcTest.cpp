#include "Utils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vostrel {

namespace {

TByteArray Bytes(const std::string& s)
{
    return TByteArray(s.begin(), s.end());
}

// Plain CRC-16/MODBUS, one bit at a time, on the ordinary (unswapped) register.
std::uint16_t ModbusBitwise(const TByteArray& data)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : data) {
        crc = static_cast<std::uint16_t>(crc ^ b);
        for (int k = 0; k < 8; ++k) {
            crc = (crc & 1u) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u)
                                  : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

std::uint16_t Swap(std::uint16_t v)
{
    return static_cast<std::uint16_t>((v << 8) | (v >> 8));
}

std::uint16_t Whole(const TByteArray& data)
{
    return Crc16(data, static_cast<std::int32_t>(data.size()) - 1);
}

}  // namespace

TEST(Crc16, KnownVectors)
{
    TByteArray program(35, 0x00);
    program[0] = 0x09;
    // "123456789" is the catalogue check input (CRC-16/MODBUS 0x4B37, swapped);
    // the others are the fixed packets of the protocol.
    struct Row {
        const char* name;
        TByteArray data;
        std::uint16_t expected;
    } rows[] = {
        {"check string", Bytes("123456789"), 0x374B},   {"empty", {}, 0xFFFF},
        {"confirmation 08 00", {0x08, 0x00}, 0x0670},   {"closing 00 00", {0x00, 0x00}, 0x01B0},
        {"programming 09 + 34 zeros", program, 0x7A01},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Whole(row.data), row.expected);
    }
}

TEST(Crc16, SwappedModbusOverManyInputs)
{
    // One byte b reaches table entry b ^ 0xFF alone: every entry is checked.
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const TByteArray one{static_cast<std::uint8_t>(b)};
        EXPECT_EQ(Whole(one), Swap(ModbusBitwise(one)));
    }
    // Lengths 0..300 of a byte pattern that reaches every value.
    TByteArray data;
    for (int len = 0; len <= 300; ++len) {
        SCOPED_TRACE(len);
        EXPECT_EQ(Whole(data), Swap(ModbusBitwise(data)));
        data.push_back(static_cast<std::uint8_t>(len * 73 + 11));
    }
}

TEST(Crc16, HighIndexSelectsTheCount)
{
    const TByteArray data = Bytes("123456789");
    EXPECT_EQ(Crc16(data, -1), 0xFFFF);
    EXPECT_EQ(Crc16(data, 1), Swap(ModbusBitwise(Bytes("12"))));
    // The count is taken on 16 bits: 65536 + 2 bytes counts as 2.
    EXPECT_EQ(Crc16(data, 65536 + 1), Swap(ModbusBitwise(Bytes("12"))));
}

}  // namespace vostrel
