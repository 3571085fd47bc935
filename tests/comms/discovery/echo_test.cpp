// The echo requests of the ARP-table search, byte by byte: the layout
// that printers' print servers answer (in the rig they do answer them).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "discovery/discovery.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(EchoRequests, LayoutsCarryAValidInternetChecksum) {
    // RFC 1071's example: the sum is ddf2, so the checksum bytes are 22 0d
    // in memory, whatever the machine's byte order.
    const unsigned char example[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    uint16_t checksum = orv::InternetChecksum(example, sizeof example);
    EXPECT_EQ(memcmp(&checksum, "\x22\x0d", 2), 0);
    // An odd last byte counts as a word with a zero second byte.
    const unsigned char odd[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(orv::InternetChecksum(odd, 3), static_cast<uint16_t>(~(0x0201 + 0x0003)));

    // Type 8, the checksum, identifier and sequence 01 00, a free filler
    // byte, the tick, and 32 bytes counting up from 20.
    unsigned char broadcast[orv::kBroadcastEchoSize];
    orv::BuildBroadcastEcho(broadcast, 0x11223344);
    Bytes expected = {8, 0, broadcast[2], broadcast[3], 1, 0, 1, 0, broadcast[8], 0x44, 0x33, 0x22, 0x11};
    for (unsigned char i = 0; i < 32; ++i)
        expected.push_back(0x20 + i);
    EXPECT_EQ(Bytes(broadcast, broadcast + sizeof broadcast), expected);
    EXPECT_EQ(orv::InternetChecksum(broadcast, sizeof broadcast), 0);  // verifies

    // Type 8, the checksum, identifier, sequence, tick, and 32 bytes 'E'.
    unsigned char probe[orv::kProbeEchoSize] = {};
    orv::BuildProbeEcho(probe, 0xBEEF, 2, 0x01020304);
    expected = {8, 0, probe[2], probe[3], 0xEF, 0xBE, 2, 0, 4, 3, 2, 1};
    expected.resize(orv::kProbeEchoSize, 'E');
    EXPECT_EQ(Bytes(probe, probe + sizeof probe), expected);
    EXPECT_EQ(orv::InternetChecksum(probe, sizeof probe), 0);
}

}  // namespace
