// Packets the utility sent, found in a station's trace by their bytes: a
// loaded machine may spread a packet's bytes out, so their times cannot say
// where a packet begins.
#pragma once

#include "StationSimulator.h"

#include <cstddef>
#include <vector>

namespace vostrel {

// The trace positions of the first byte of each run of the utility's bytes
// that spells `packet`, in order; the station's bytes among them are passed
// over, and runs do not overlap.
inline std::vector<std::size_t> SentAt(const std::vector<LineByte>& trace, const TByteArray& packet)
{
    std::vector<std::size_t> sent;
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (!trace[i].FromStation)
            sent.push_back(i);
    }
    std::vector<std::size_t> found;
    for (std::size_t k = 0; !packet.empty() && k + packet.size() <= sent.size(); ++k) {
        std::size_t same = 0;
        while (same < packet.size() && trace[sent[k + same]].Byte == packet[same])
            ++same;
        if (same == packet.size()) {
            found.push_back(sent[k]);
            k += packet.size() - 1;
        }
    }
    return found;
}

}  // namespace vostrel
