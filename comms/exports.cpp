/*
 * exports.cpp - the exported functions of orvcomms.dll. Each checks what
 * the library promises to check and forwards to its module; the names and
 * ordinals come from exports.txt through the .def file.
 */
#include "frame.h"
#include "internal.h"

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

}  // extern "C"
