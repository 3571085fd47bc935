// The echo check beside a planted ICMP.DLL: this program runs from a
// folder of its own that holds orvcomms.dll and a file named ICMP.DLL
// (planted_icmp.c). Wine runs it with icmp=n,b, so that a bare name finds
// the file in the program's folder first, as Windows does.
#include <gtest/gtest.h>

#include <windows.h>

#include "ovapi.h"

namespace {

bool PlantedLoaded() {
    return GetEnvironmentVariableA("ORV_PLANTED_ICMP_LOADED", nullptr, 0) != 0;
}

TEST(PlantedIcmp, TheEchoCheckLoadsTheSystemsIcmpDllNotTheOneBesideTheProgram) {
    OvApi api;
    ASSERT_TRUE(api.Load());
    ASSERT_EQ(api.Startup(GetModuleHandleA(nullptr)), 1);
    EXPECT_EQ(api.SendICMP("127.0.0.1"), 1);
    EXPECT_FALSE(PlantedLoaded());
    api.Cleanup();
    // The set-up holds: a bare name loads the planted file here.
    HMODULE planted = LoadLibraryA("ICMP.DLL");
    EXPECT_TRUE(PlantedLoaded()) << "WINEDLLOVERRIDES=icmp=n,b not in effect, or no planted file";
    if (planted != nullptr)
        FreeLibrary(planted);
}

}  // namespace
