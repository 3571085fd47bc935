// Shared set-up of the print-channel tests: the library loaded and
// started through its exports, a private configuration key, and helpers
// for timing and for the network rig.
#ifndef ORV_TEST_NET_FIXTURE_H
#define ORV_TEST_NET_FIXTURE_H

#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <string>

#include "ovapi.h"
#include "printer_sim.h"
#include "registry_sandbox.h"

class Stopwatch {
  public:
    Stopwatch() : start_(GetTickCount64()) {}
    double Seconds() const { return (GetTickCount64() - start_) / 1000.0; }

  private:
    ULONGLONG start_;
};

class NetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(registry_.ok());
        ASSERT_TRUE(api_.Load());
        ASSERT_EQ(api_.Startup(GetModuleHandleA(nullptr)), 1);
    }
    void TearDown() override { api_.Cleanup(); }

    /* Writes the configuration; 0 leaves a value at its default. */
    void Configure(DWORD time, DWORD retry, DWORD open_timeout = 0) {
        registry_.SetDword(kOrvConfigKey, "TIME", time);
        registry_.SetDword(kOrvConfigKey, "RETRY", retry);
        registry_.SetDword(kOrvConfigKey, "OPEN_TIMEOUT", open_timeout);
    }

    RegistrySandbox registry_;
    OvApi api_;
};

/* Fails the test unless `printer` was made; the simulator runs for the
 * whole test run, so a failure to make a printer is a real error. */
#define ASSERT_SIM(printer) ASSERT_TRUE((printer).ok()) << (printer).error()

/* The rig of tests/rigs/netns-rig.sh: this machine's interface 198.18.1.1
 * on the namespace's subnet. */
constexpr char kRigLocal[] = "198.18.1.1";
// Printers inside the namespace: 198.18.1.2 to .9, one per test.
constexpr char kRigPrinterForBinding[] = "198.18.1.2";
constexpr char kRigPrinterForCancel[] = "198.18.1.3";
constexpr char kRigSilentHost[] = "198.18.1.99";
constexpr char kRigNamespace[] = "orv-rig";

/* True when this machine has the interface address `local` (a rig's end). */
inline bool HasInterfaceAddress(const char* local) {
    ULONG size = 0;
    if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER)
        return false;
    std::string buffer(size, '\0');
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(&buffer[0]);
    if (GetIpAddrTable(table, &size, FALSE) != NO_ERROR)
        return false;
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        if (table->table[i].dwAddr == inet_addr(local))
            return true;
    return false;
}

inline bool RigIsUp() {
    return HasInterfaceAddress(kRigLocal);
}

#define SKIP_WITHOUT_RIG()                                                  \
    do {                                                                    \
        if (!RigIsUp())                                                     \
            GTEST_SKIP() << "network rig not up (tests/rigs/netns-rig.sh)"; \
    } while (0)

#endif  // ORV_TEST_NET_FIXTURE_H
