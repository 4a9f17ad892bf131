// A whole exchange at the level of the line through the Windows component and
// the adapter: greeting, confirmation, the station's parameter packet.
#include "ComLines.h"
#include "CommLink.h"
#include "Packets.h"
#include "ParamBlock.h"

namespace vostrel {

TEST_F(ComLines, ReadsTheStationsParametersThroughTComm)
{
    TComm comm;
    OpenStationLine(comm, kStationPort);
    TCommBytePort port(comm);
    TClockHost host;

    // The utility's wait: purge, then poll every 20 ms until a byte waits.
    port.PurgeInput();
    ASSERT_TRUE(WaitUntil(
        [&] {
            host.Sleep(20);
            return port.InputCount() >= 1;
        },
        5000));
    const TByteArray greeting = CollectUntilEtx(port, host);
    EXPECT_EQ(greeting, (TByteArray{0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03}));

    SendPacket(port, host, BuildPacket(kPacketConfirm, {0x00}), true, false);
    port.PurgeInput();
    const TByteArray collected = CollectFor(port, host, 1000);
    const TByteArray block = UndoDleDoubling(ExtractBlock(collected));
    ASSERT_EQ(block.size(), 34u);
    // The station's packet 01 arrived whole: rebuilt from its block it is the
    // line as sent, check sum included.
    EXPECT_EQ(UndoDleDoubling(collected), BuildPacket(kPacketParams, block));
    TParameterSet set;
    EXPECT_TRUE(DecodeBlock(block, TParameterSet{}, set));
}

}  // namespace vostrel
