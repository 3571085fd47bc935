/* A stand-in for a planted ICMP.DLL: a file of that name beside a
 * program. Loaded into a process, it says so in the process's
 * environment. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        SetEnvironmentVariableA("ORV_PLANTED_ICMP_LOADED", "1");
    return TRUE;
}
