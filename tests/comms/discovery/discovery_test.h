// What the discovery tests share: the library loaded through its
// exports, result arrays that end at an inaccessible page (a search that
// writes or reads one entry too far crashes the test), and the network
// rig of tests/rigs/discovery-rig.sh.
#ifndef ORV_TEST_DISCOVERY_TEST_H
#define ORV_TEST_DISCOVERY_TEST_H

#include <string>
#include <vector>

#include "net_fixture.h"

/* An array of `capacity` 96-byte entries whose last byte is followed by
 * a page that may not be touched. Every byte starts as 'x'. */
class GuardedEntries {
  public:
    explicit GuardedEntries(DWORD capacity);
    ~GuardedEntries();
    GuardedEntries(const GuardedEntries&) = delete;
    GuardedEntries& operator=(const GuardedEntries&) = delete;

    OvSearchEntry* data() { return entries_; }
    OvSearchEntry& operator[](DWORD i) { return entries_[i]; }
    DWORD capacity() const { return capacity_; }
    /* The interface entries of OvSendSearch_DHCPreq2 have the same size. */
    OvInterfaceEntry* interfaces() { return reinterpret_cast<OvInterfaceEntry*>(entries_); }

  private:
    void* block_;
    OvSearchEntry* entries_;
    DWORD capacity_;
};

/* A field's text: up to its first zero byte, or all 32 bytes. */
std::string FieldText(const char (&field)[32]);
/* Whether every byte of the field is still 'x'. */
bool Untouched(const char (&field)[32]);
/* The MAC texts of entries [0, count), sorted. */
using MacList = std::vector<std::string>;
MacList Macs(GuardedEntries& entries, DWORD count);

class DiscoveryTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    OvApi api_;
    OvHandle search_ = OV_INVALID_HANDLE;
};

/* --- the rig ----------------------------------------------------------- */

constexpr char kRigLibrary[] = "198.18.9.1";     // this side, on the switch
constexpr char kRigLibrary2[] = "198.18.10.1";   // this side, on the second network
constexpr char kRigBroadcast[] = "198.18.9.255";
constexpr char kRigP1[] = "198.18.9.11";
constexpr char kRigP1Mac[] = "FE:FF:FF:FF:00:01";
constexpr char kRigP2[] = "198.18.9.12";
constexpr char kRigP2Mac[] = "0A:4D:C2:12:34:56";
constexpr char kRigHost[] = "198.18.9.13";       // an ordinary host
constexpr char kRigHostMac[] = "02:00:00:09:00:13";
constexpr char kRigP3[] = "198.18.10.2";          // on the second network
constexpr char kRigP3Mac[] = "0A:4D:C2:00:10:02";
constexpr char kRigSilentVendor[] = "198.18.9.14";  // vendor MAC, never answers
constexpr char kRigNobody[] = "198.18.9.99";
// The scripted echo responder's addresses (tests/rigs/echo-responder.pl):
// the first echo reply carries another identifier, or is of another type;
// or every reply comes from a third address.
constexpr char kRigEchoOtherIdentifier[] = "198.18.9.21";
constexpr char kRigEchoOtherType[] = "198.18.9.22";
constexpr char kRigEchoThirdAddress[] = "198.18.9.23";

/* Skips unless this process runs in the rig's namespace that has the
 * interface `address`. */
#define SKIP_OUTSIDE_RIG(address)                                                         \
    do {                                                                                  \
        if (!HasInterfaceAddress(address))                                                \
            GTEST_SKIP() << "discovery rig not up (tests/rigs/discovery-rig.sh, root)";   \
    } while (0)

/* The rig's tests: skipped outside the library's namespace. */
class RigTest : public DiscoveryTest {
  protected:
    void SetUp() override {
        SKIP_OUTSIDE_RIG(kRigLibrary);
        DiscoveryTest::SetUp();
    }
};

/* One statistic of a printer of the rig's simulator ("geta" of "p1"), or
 * "" when the simulator cannot be asked. */
std::string RigStat(const std::string& printer, const std::string& key);

/* Runs a shell command line (bash) of this machine, in this namespace,
 * and waits for it; false when it failed or took longer than
 * `timeout_ms`. */
bool RunUnixCommand(const std::string& command, DWORD timeout_ms = 5000);

/* Waits up to `timeout_ms` for `done`; whether it became true. */
template <typename Condition>
bool WaitUntil(Condition done, DWORD timeout_ms) {
    ULONGLONG start = GetTickCount64();
    while (!done()) {
        if (GetTickCount64() - start > timeout_ms)
            return false;
        Sleep(20);
    }
    return true;
}

#endif  // ORV_TEST_DISCOVERY_TEST_H
