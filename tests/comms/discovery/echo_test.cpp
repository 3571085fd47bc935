// The echo requests of the ARP-table search, byte by byte: the layout
// that printers' print servers answer (in the rig they do answer them).
#include <gtest/gtest.h>

#include "discovery.h"

namespace {

TEST(InternetChecksum, IsTheComplementOfTheOnesComplementSum) {
    // RFC 1071's example: the sum is ddf2, so the checksum bytes are 22 0d
    // in memory, whatever the machine's byte order.
    const unsigned char data[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    uint16_t checksum = orv::InternetChecksum(data, sizeof data);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&checksum);
    EXPECT_EQ(bytes[0], 0x22);
    EXPECT_EQ(bytes[1], 0x0d);
    // An odd last byte counts as a word with a zero second byte.
    const unsigned char odd[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(orv::InternetChecksum(odd, 3), static_cast<uint16_t>(~(0x0201 + 0x0003)));
}

TEST(EchoRequests, BroadcastEchoCarriesTickPatternAndAValidChecksum) {
    unsigned char echo[orv::kBroadcastEchoSize];
    orv::BuildBroadcastEcho(echo, 0x11223344);
    EXPECT_EQ(echo[0], 8);
    EXPECT_EQ(echo[1], 0);
    EXPECT_EQ(echo[4], 1);
    EXPECT_EQ(echo[5], 0);
    EXPECT_EQ(echo[6], 1);
    EXPECT_EQ(echo[7], 0);
    EXPECT_EQ(echo[9], 0x44);
    EXPECT_EQ(echo[12], 0x11);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(echo[13 + i], 0x20 + i);
    EXPECT_EQ(orv::InternetChecksum(echo, sizeof echo), 0);  // verifies
}

TEST(EchoRequests, ProbeEchoCarriesIdentifierSequenceTickAndAValidChecksum) {
    unsigned char echo[orv::kProbeEchoSize] = {};
    orv::BuildProbeEcho(echo, 0xBEEF, 2, 0x01020304);
    EXPECT_EQ(echo[0], 8);
    EXPECT_EQ(echo[4], 0xEF);
    EXPECT_EQ(echo[5], 0xBE);
    EXPECT_EQ(echo[6], 2);
    EXPECT_EQ(echo[7], 0);
    EXPECT_EQ(echo[8], 0x04);
    EXPECT_EQ(echo[11], 0x01);
    for (int i = 12; i < 44; ++i)
        EXPECT_EQ(echo[i], 'E');
    EXPECT_EQ(orv::InternetChecksum(echo, sizeof echo), 0);
}

}  // namespace
