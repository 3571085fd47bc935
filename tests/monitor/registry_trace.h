/*
 * registry_trace.h - forced into every source of orvstsn_core_traced, the
 * copy of the monitor code that the trace tests and the poll benchmark
 * link: it routes the registry functions that the monitor calls through
 * recording stand-ins, which call the real functions.
 */
#ifndef ORV_TEST_REGISTRY_TRACE_H
#define ORV_TEST_REGISTRY_TRACE_H

#include <windows.h>

LONG WINAPI TracedRegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
LONG WINAPI TracedRegCreateKeyExA(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                                  PHKEY, LPDWORD);
LONG WINAPI TracedRegCloseKey(HKEY);
LONG WINAPI TracedRegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
LONG WINAPI TracedRegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
LONG WINAPI TracedRegDeleteValueA(HKEY, LPCSTR);

#define RegOpenKeyExA TracedRegOpenKeyExA
#define RegCreateKeyExA TracedRegCreateKeyExA
#define RegCloseKey TracedRegCloseKey
#define RegQueryValueExA TracedRegQueryValueExA
#define RegSetValueExA TracedRegSetValueExA
#define RegDeleteValueA TracedRegDeleteValueA

#endif  // ORV_TEST_REGISTRY_TRACE_H
