/*
 * ovapi.h - loads orvcomms.dll at run time and looks up its exports by
 * name, the way printer tools use the library. Shared by the command-line
 * client and the tests.
 */
#ifndef ORV_OVAPI_H
#define ORV_OVAPI_H

#include <windows.h>

#include "orvcomms.h"

struct OvApi {
    HMODULE module = nullptr;

    decltype(&OvStartup) Startup = nullptr;
    decltype(&OvCleanup) Cleanup = nullptr;
    decltype(&OvGetError) GetError = nullptr;
    decltype(&OvOpenPort) OpenPort = nullptr;
    decltype(&OvClosePort) ClosePort = nullptr;
    decltype(&OvReadPort) ReadPort = nullptr;
    decltype(&OvRecvPort) RecvPort = nullptr;
    decltype(&OvWritePort) WritePort = nullptr;
    decltype(&OvWritePort_Async) WritePortAsync = nullptr;
    decltype(&OvSendCancel) SendCancel = nullptr;
    decltype(&OvOpenStatus) OpenStatus = nullptr;
    decltype(&OvGetStatus) GetStatus = nullptr;
    decltype(&OvGetDeviceID) GetDeviceID = nullptr;
    decltype(&OvCloseStatus) CloseStatus = nullptr;
    decltype(&OvSendICMP) SendICMP = nullptr;
    decltype(&OvSendICMP_Async) SendICMPAsync = nullptr;
    decltype(&OvSetUseICMP) SetUseICMP = nullptr;

    OvApi() = default;
    OvApi(const OvApi&) = delete;
    OvApi& operator=(const OvApi&) = delete;
    ~OvApi() { Unload(); }

    /* Loads the library and every export; false (with nothing loaded) when
     * the file or any export is missing. */
    bool Load(const char* path = "orvcomms.dll") {
        module = LoadLibraryA(path);
        if (module == nullptr)
            return false;
        bool ok = Find(Startup, "OvStartup") && Find(Cleanup, "OvCleanup") &&
                  Find(GetError, "OvGetError") && Find(OpenPort, "OvOpenPort") &&
                  Find(ClosePort, "OvClosePort") && Find(ReadPort, "OvReadPort") &&
                  Find(RecvPort, "OvRecvPort") && Find(WritePort, "OvWritePort") &&
                  Find(WritePortAsync, "OvWritePort_Async") && Find(SendCancel, "OvSendCancel");
        ok = ok && Find(OpenStatus, "OvOpenStatus") && Find(GetStatus, "OvGetStatus") &&
             Find(GetDeviceID, "OvGetDeviceID") && Find(CloseStatus, "OvCloseStatus") &&
             Find(SendICMP, "OvSendICMP") && Find(SendICMPAsync, "OvSendICMP_Async") &&
             Find(SetUseICMP, "OvSetUseICMP");
        if (!ok)
            Unload();
        return ok;
    }

    void Unload() {
        if (module != nullptr)
            FreeLibrary(module);
        module = nullptr;
    }

  private:
    template <typename Fn>
    bool Find(Fn& fn, const char* name) {
        fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        return fn != nullptr;
    }
};

#endif  // ORV_OVAPI_H
