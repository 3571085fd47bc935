/*
 * exports.cpp - the exported functions of orvcomms.dll. Each checks what
 * the library promises to check and forwards to its module; the names and
 * ordinals come from exports.txt through the .def file.
 */
#include "discovery.h"
#include "frame.h"
#include "internal.h"
#include "netport.h"

using namespace orv;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    // All set-up happens in OvStartup.
    return TRUE;
}

int OVAPI OvStartup(HINSTANCE instance) {
    return Startup(instance);
}

int OVAPI OvCleanup(void) {
    return Cleanup();
}

int OVAPI OvGetError(OvHandle handle) {
    HandleRecord* record = RecordOf(handle);
    return record == nullptr ? 0 : record->last_error.load();
}

OvHandle OVAPI OvOpenPort(const char* host) {
    return OpenPort(host);
}

int OVAPI OvClosePort(OvHandle port) {
    return ClosePort(port);
}

int OVAPI OvReadPort(OvHandle port, void* buffer, DWORD size, DWORD* received) {
    return ReadPort(port, buffer, size, received);
}

int OVAPI OvRecvPort(OvHandle port, void* buffer, DWORD size, DWORD* received) {
    return RecvPort(port, buffer, size, received);
}

int OVAPI OvWritePort(OvHandle port, const void* data, DWORD size, DWORD* written) {
    return WritePort(port, data, size, written);
}

int OVAPI OvWritePort_Async(OvHandle port, const void* data, DWORD size, DWORD* written) {
    // The same transfer as OvWritePort; it too returns when it has ended.
    return WritePort(port, data, size, written);
}

int OVAPI OvSendCancel(const char* address) {
    return SendCancel(address);
}

OvHandle OVAPI OvOpenSearch(void) {
    return OpenSearch();
}

int OVAPI OvCloseSearch(OvHandle search) {
    return CloseSearch(search);
}

int OVAPI OvSendSearch(OvHandle search, void* results, DWORD capacity, DWORD wait_seconds,
                       DWORD spare, DWORD* count, const char* prefix) {
    return SendSearch(search, results, capacity, wait_seconds, spare, count, prefix);
}

int OVAPI OvSendSearch_DHCPreq(OvHandle search, void* results, DWORD seconds, DWORD multiplier,
                               DWORD* count) {
    return SendSearchDhcp(search, results, nullptr, kDefaultCapacity, seconds, multiplier, count);
}

int OVAPI OvSendSearch_DHCPreq2(OvHandle search, void* results, void* interfaces, DWORD capacity,
                                DWORD seconds, DWORD multiplier, DWORD* count) {
    return SendSearchDhcp(search, results, interfaces, capacity, seconds, multiplier, count);
}

int OVAPI OvSendSearch_UDPBrCast(OvHandle search, void* results, DWORD capacity, DWORD seconds,
                                 DWORD repeat, DWORD* count, const char* destination) {
    return SendSearchUdpBroadcast(search, results, capacity, seconds, repeat, count, destination);
}

int OVAPI OvSendSearch_UDPUniCast(OvHandle search, void* results, DWORD capacity, double timeout,
                                  DWORD repeat, DWORD* count, const char* destination) {
    return SendSearchUdpUnicast(search, results, capacity, timeout, repeat, count, destination);
}

int OVAPI OvSendSet_UDP(int enable, const char* mac, const char* address, const char* address2,
                        const char* destination) {
    return SendSetUdp(enable, mac, address, address2, destination);
}

}  // extern "C"
