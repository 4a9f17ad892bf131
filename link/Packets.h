// Packet framing with DLE/ETX, sending byte by byte and collecting answers.
#pragma once

#include "LinkIo.h"

#include <cstdint>
#include <string>

namespace vostrel {

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kEtx = 0x03;

// Packet numbers on the line.
constexpr std::uint8_t kPacketGreeting = 0x00;
constexpr std::uint8_t kPacketClosing = 0x00;
constexpr std::uint8_t kPacketConfirm = 0x08;
constexpr std::uint8_t kPacketParams = 0x01;
constexpr std::uint8_t kPacketProgram = 0x09;

// "$" and two upper-case hex digits: the exchange log line of one byte.
std::string ByteLine(std::uint8_t b);

// What the collection after packet 08 held.
enum class TAnswerStatus {
    Ok,       // a packet 01 of 34 data bytes whose CRC holds
    Missing,  // no usable block: nothing framed, a frame the collection ended inside, or a
              // packet whose CRC holds but which is no 34-byte packet 01
    Damaged,  // a frame that arrived but whose CRC does not hold, or whose framing or length
              // no station writes
};

// Takes the station's packet 01 out of what was collected after packet 08:
// from its DLE and number, the doubled DLEs are undone up to the closing DLE
// ETX, and Crc16 over the number and the data as they stand then must match
// the two bytes before DLE ETX, as for the utility's own packets. Bytes ahead
// of the first DLE, whole packets of another number with a right CRC, and
// whatever follows the packet are passed over. block receives the 34 data
// bytes with Ok and is emptied otherwise.
TAnswerStatus ExtractCheckedBlock(const TByteArray& collected, TByteArray& block);

// The exchange-log line and the operator's text for a damaged answer.
inline constexpr const char* kDamagedAnswerLine = "Ответ станции повреждён: контрольная сумма не сходится";
inline constexpr const char* kDamagedAnswerText =
    "Ответ станции пришёл повреждённым (не сошлась контрольная сумма). Параметры не показаны. "
    "Переведите станцию в режим программирования ещё раз.";

}  // namespace vostrel

// DLE, number, data, CRC high, CRC low, DLE, ETX; nothing doubled.
vostrel::TByteArray BuildPacket(std::uint8_t number, const vostrel::TByteArray& data);

// Writes the packet one byte per call with a 1 ms pause and a pass of message
// processing after each. With doubleDle every 0x10 from index 2 to size-3 goes
// out twice. Write results are ignored; port errors propagate.
void SendPacket(vostrel::IBytePort& port, vostrel::ILinkHost& host, const vostrel::TByteArray& packet, bool logBytes,
                bool doubleDle);

// Busy-polls one byte at a time until an ETX is taken or 1500 ms have passed.
vostrel::TByteArray CollectUntilEtx(vostrel::IBytePort& port, vostrel::ILinkHost& host);

// At least three bytes, 10 00 first and 03 last; nothing else is checked.
bool IsGreeting(const vostrel::TByteArray& bytes);

// Takes every byte arriving within windowMs; ETX does not end it.
vostrel::TByteArray CollectFor(vostrel::IBytePort& port, vostrel::ILinkHost& host, std::uint32_t windowMs);

// Indices 2 .. size-5 of a collection of at least 7 bytes, else empty; the
// CRC is not looked at (ExtractCheckedBlock does).
vostrel::TByteArray ExtractBlock(const vostrel::TByteArray& collected);

// Each doubled 0x10 becomes one; a lone 0x10 stays.
vostrel::TByteArray UndoDleDoubling(const vostrel::TByteArray& block);
