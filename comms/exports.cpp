/*
 * exports.cpp - the exported functions of orvcomms.dll. Each checks what
 * the library promises to check and forwards to its module; the names and
 * ordinals come from exports.txt through the .def file.
 */
#include "frame.h"
#include "internal.h"
#include "netport.h"
#include "reach.h"
#include "status.h"

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

}  // extern "C"
