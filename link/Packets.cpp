#include "Packets.h"

#include "ParamBlock.h"
#include "Utils.h"

#include <algorithm>

using namespace vostrel;

namespace {

void LogByte(ILinkHost& host, std::uint8_t b)
{
    host.AppendLog(ByteLine(b));
}

// Takes at most one byte; true when one was taken.
bool TakeOneByte(IBytePort& port, ILinkHost& host, TByteArray& collected)
{
    std::uint8_t b = 0;
    if (port.ReadBytes(&b, 1) != 1) {
        return false;
    }
    collected.push_back(b);
    LogByte(host, b);
    return true;
}

void WriteOneByte(IBytePort& port, std::uint8_t b)
{
    port.WriteBytes(&b, 1);
}

// How a frame read from the line ended.
enum class TFrameEnd {
    Closed,   // at DLE ETX
    Open,     // the bytes ran out first
    Broken,   // a DLE followed by neither DLE nor ETX
    TooLong,  // more than any packet on this line holds
};

struct TFrame {
    TFrameEnd End = TFrameEnd::Open;
    std::uint8_t Number = 0;
    TByteArray Body;       // data and both CRC bytes, doubling undone
    std::size_t Next = 0;  // index after the closing ETX
};

// The frame whose DLE stands at start (start + 1 must exist). The number is
// never doubled, so it is taken as it comes, even a 0x10.
TFrame ReadFrame(const TByteArray& in, std::size_t start)
{
    // The longest packet a station writes: 34 data bytes and the CRC.
    constexpr std::size_t kMaxBody = static_cast<std::size_t>(kBlockSize) + 2;
    TFrame f;
    f.Number = in[start + 1];
    for (std::size_t i = start + 2; i < in.size(); ++i) {
        const std::uint8_t b = in[i];
        if (b == kDle) {
            if (i + 1 == in.size()) {
                return f;
            }
            const std::uint8_t next = in[i + 1];
            if (next == kEtx) {
                f.End = TFrameEnd::Closed;
                f.Next = i + 2;
                return f;
            }
            if (next != kDle) {
                f.End = TFrameEnd::Broken;
                return f;
            }
            ++i;
        }
        f.Body.push_back(b);
        if (f.Body.size() > kMaxBody) {
            f.End = TFrameEnd::TooLong;
            return f;
        }
    }
    return f;
}

}  // namespace

std::string vostrel::ByteLine(std::uint8_t b)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line = "$";
    line += kHex[b >> 4];
    line += kHex[b & 0x0F];
    return line;
}

TByteArray BuildPacket(std::uint8_t number, const TByteArray& data)
{
    TByteArray body;
    body.reserve(data.size() + 1);
    body.push_back(number);
    body.insert(body.end(), data.begin(), data.end());
    const std::uint16_t r = Crc16(body, static_cast<std::int32_t>(data.size()));

    TByteArray packet;
    packet.reserve(data.size() + 6);
    packet.push_back(kDle);
    packet.insert(packet.end(), body.begin(), body.end());
    packet.push_back(static_cast<std::uint8_t>(r >> 8));
    packet.push_back(static_cast<std::uint8_t>(r & 0xFF));
    packet.push_back(kDle);
    packet.push_back(kEtx);
    return packet;
}

void SendPacket(IBytePort& port, ILinkHost& host, const TByteArray& packet, bool logBytes, bool doubleDle)
{
    const std::size_t size = packet.size();
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = packet[i];
        WriteOneByte(port, b);
        if (logBytes) {
            LogByte(host, b);
        }
        host.Sleep(1);
        host.ProcessMessages();
        // The framing DLEs (index 0 and size-2) and the number stay single.
        if (doubleDle && i >= 2 && i + 3 <= size && b == kDle) {
            WriteOneByte(port, b);
            host.Sleep(1);
            host.ProcessMessages();
        }
    }
}

TByteArray CollectUntilEtx(IBytePort& port, ILinkHost& host)
{
    constexpr std::uint32_t kLimitMs = 1500;
    const std::uint32_t start = host.GetTickCount();
    TByteArray collected;
    for (;;) {
        const bool took = TakeOneByte(port, host, collected);
        if (took && collected.back() == kEtx) {
            break;
        }
        const std::uint32_t now = host.GetTickCount();
        host.ProcessMessages();
        // Unsigned 32-bit difference: the counter's wrap does no harm.
        const std::uint32_t spent = static_cast<std::uint32_t>(now - start);
        if (spent > kLimitMs) {
            break;
        }
        if (!took) {
            host.IdleInCollection(kLimitMs + 1 - spent);
        }
    }
    return collected;
}

bool IsGreeting(const TByteArray& bytes)
{
    return bytes.size() >= 3 && bytes[0] == kDle && bytes[1] == 0x00 && bytes.back() == kEtx;
}

TByteArray CollectFor(IBytePort& port, ILinkHost& host, std::uint32_t windowMs)
{
    const std::uint32_t start = host.GetTickCount();
    TByteArray collected;
    for (;;) {
        const bool took = TakeOneByte(port, host, collected);
        const std::uint32_t now = host.GetTickCount();
        host.ProcessMessages();
        const std::uint32_t spent = static_cast<std::uint32_t>(now - start);
        if (spent > windowMs) {
            break;
        }
        if (!took) {
            host.IdleInCollection(windowMs + 1 - spent);
        }
    }
    return collected;
}

TByteArray ExtractBlock(const TByteArray& collected)
{
    if (collected.size() < 7) {
        return {};
    }
    return TByteArray(collected.begin() + 2, collected.end() - 4);
}

TAnswerStatus vostrel::ExtractCheckedBlock(const TByteArray& collected, TByteArray& block)
{
    block.clear();
    std::size_t pos = 0;
    for (;;) {
        const auto dle = std::find(collected.begin() + static_cast<std::ptrdiff_t>(pos), collected.end(), kDle);
        if (dle == collected.end() || dle + 1 == collected.end()) {
            return TAnswerStatus::Missing;
        }
        const TFrame f = ReadFrame(collected, static_cast<std::size_t>(dle - collected.begin()));
        if (f.End == TFrameEnd::Open) {
            // Cut short or silent mid-way; a DLE lost or added on the way
            // shows as a broken or overlong frame instead.
            return TAnswerStatus::Missing;
        }
        if (f.End != TFrameEnd::Closed || f.Body.size() < 2) {
            return TAnswerStatus::Damaged;
        }
        const std::size_t dataSize = f.Body.size() - 2;
        TByteArray covered;
        covered.reserve(dataSize + 1);
        covered.push_back(f.Number);
        covered.insert(covered.end(), f.Body.begin(), f.Body.begin() + static_cast<std::ptrdiff_t>(dataSize));
        const auto carried = static_cast<std::uint16_t>(f.Body[dataSize] << 8 | f.Body[dataSize + 1]);
        if (Crc16(covered, static_cast<std::int32_t>(dataSize)) != carried) {
            return TAnswerStatus::Damaged;
        }
        if (f.Number != kPacketParams) {
            // Another whole packet, such as a greeting repeated: look on.
            pos = f.Next;
            continue;
        }
        if (dataSize != static_cast<std::size_t>(kBlockSize)) {
            return TAnswerStatus::Missing;
        }
        block.assign(covered.begin() + 1, covered.end());
        return TAnswerStatus::Ok;
    }
}

TByteArray UndoDleDoubling(const TByteArray& block)
{
    TByteArray out;
    out.reserve(block.size());
    for (std::size_t i = 0; i < block.size(); ++i) {
        out.push_back(block[i]);
        if (block[i] == kDle && i + 1 < block.size() && block[i + 1] == kDle) {
            ++i;
        }
    }
    return out;
}
