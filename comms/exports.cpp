/*
 * exports.cpp - the exported functions of orvcomms.dll. Each checks what
 * the library promises to check and forwards to its module; the names and
 * ordinals come from exports.txt through the .def file.
 */
#include "discovery/discovery.h"
#include "frame.h"
#include "internal.h"
#include "localport/localport.h"
#include "network/netport.h"
#include "network/reach.h"
#include "network/status.h"

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

/* --- Local ports: serial, parallel, USB -------------------------------- */

HANDLE OVAPI OvOpenPort_COM(const char* port, DWORD* error) {
    return OpenPortCom(port, error);
}

int OVAPI OvClosePort_COM(HANDLE port, DWORD* error) {
    return ClosePortCom(port, error);
}

int OVAPI OvRecvPort_COM(HANDLE port, void* buffer, DWORD size, DWORD* received, DWORD timeout_ms,
                         DWORD* error) {
    return RecvPortCom(port, buffer, size, received, timeout_ms, error);
}

int OVAPI OvWritePort_COM(HANDLE port, const void* data, DWORD size, DWORD* written,
                          DWORD timeout_ms, DWORD* error) {
    return WritePortCom(port, data, size, written, timeout_ms, error);
}

int OVAPI OvGetComConf(HANDLE port, DCB* settings, DWORD* error) {
    return GetComConf(port, settings, error);
}

int OVAPI OvSetComConf(HANDLE port, DCB* settings, DWORD* error) {
    return SetComConf(port, settings, error);
}

HANDLE OVAPI OvOpenPort_LPT(const char* port, DWORD* error) {
    return OpenPortLpt(port, error);
}

int OVAPI OvClosePort_LPT(HANDLE port, DWORD* error) {
    return ClosePortLpt(port, error);
}

int OVAPI OvRecvPort_LPT(HANDLE port, void* buffer, DWORD size, DWORD* received, DWORD timeout_ms,
                         DWORD* error) {
    return RecvPortLpt(port, buffer, size, received, timeout_ms, error);
}

int OVAPI OvWritePort_LPT(HANDLE port, const void* data, DWORD size, DWORD* written,
                          DWORD timeout_ms, DWORD* error) {
    return WritePortLpt(port, data, size, written, timeout_ms, error);
}

int OVAPI OvSendCancel_LPT(HANDLE port, DWORD* error) {
    return SendCancelLpt(port, error);
}

int OVAPI OvGetDeviceID_LPT(HANDLE port, void* buffer, DWORD size, DWORD* length, DWORD* error) {
    return GetDeviceIdLpt(port, buffer, size, length, error);
}

int OVAPI OvGetTimeOut_LPT(DWORD* timeout_ms, DWORD* error) {
    return GetTimeOutLpt(timeout_ms, error);
}

int OVAPI OvSetTimeOut_LPT(DWORD timeout_ms, DWORD* error) {
    return SetTimeOutLpt(timeout_ms, error);
}

HANDLE OVAPI OvOpenPort_USB(const char* device_path, DWORD* error) {
    return OpenPortUsb(device_path, error);
}

int OVAPI OvClosePort_USB(HANDLE port, DWORD* error) {
    return ClosePortUsb(port, error);
}

int OVAPI OvRecvPort_USB(HANDLE port, void* buffer, DWORD size, DWORD* received, DWORD timeout_ms,
                         DWORD* error) {
    return RecvPortUsb(port, buffer, size, received, timeout_ms, error);
}

int OVAPI OvWritePort_USB(HANDLE port, const void* data, DWORD size, DWORD* written,
                          DWORD timeout_ms, DWORD* error) {
    return WritePortUsb(port, data, size, written, timeout_ms, error);
}

int OVAPI OvSendCancel_USB(HANDLE port, DWORD* error) {
    return SendCancelUsb(port, error);
}

int OVAPI OvGetDeviceID_USB(HANDLE port, void* buffer, DWORD size, DWORD* length, DWORD* error) {
    return GetDeviceIdUsb(port, buffer, size, length, error);
}

int OVAPI OvSendSearch_USB(UsbPrinterEntry* entries, DWORD* count, DWORD* error) {
    return SendSearchUsb(entries, count, error);
}

OvHandle OVAPI OvOpenStatus(const char* host) {
    return OpenStatus(host);
}

int OVAPI OvGetStatus(OvHandle status, void* buffer, DWORD size, DWORD* length) {
    return Exchange(status, StatusRequest::kStatus, buffer, size, length);
}

int OVAPI OvGetDeviceID(OvHandle status, void* buffer, DWORD size, DWORD* length) {
    return Exchange(status, StatusRequest::kDeviceId, buffer, size, length);
}

int OVAPI OvCloseStatus(OvHandle status) {
    return CloseStatus(status);
}

int OVAPI OvSendICMP(const char* address) {
    return SendIcmp(address);
}

int OVAPI OvSendICMP_Async(const char* address) {
    return SendIcmpAsync(address);
}

int OVAPI OvSetUseICMP(int flag) {
    return SetUseIcmp(flag);
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
