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
    decltype(&OvOpenSearch) OpenSearch = nullptr;
    decltype(&OvCloseSearch) CloseSearch = nullptr;
    decltype(&OvSendSearch) SendSearch = nullptr;
    decltype(&OvSendSearch_DHCPreq) SendSearchDhcp = nullptr;
    decltype(&OvSendSearch_DHCPreq2) SendSearchDhcp2 = nullptr;
    decltype(&OvSendSearch_UDPBrCast) SendSearchUdpBroadcast = nullptr;
    decltype(&OvSendSearch_UDPUniCast) SendSearchUdpUnicast = nullptr;
    decltype(&OvSendSet_UDP) SendSetUdp = nullptr;

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
        ok = ok && FindDiscovery();
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
    bool FindDiscovery() {
        return Find(OpenSearch, "OvOpenSearch") && Find(CloseSearch, "OvCloseSearch") &&
               Find(SendSearch, "OvSendSearch") && Find(SendSearchDhcp, "OvSendSearch_DHCPreq") &&
               Find(SendSearchDhcp2, "OvSendSearch_DHCPreq2") &&
               Find(SendSearchUdpBroadcast, "OvSendSearch_UDPBrCast") &&
               Find(SendSearchUdpUnicast, "OvSendSearch_UDPUniCast") && Find(SendSetUdp, "OvSendSet_UDP");
    }

    template <typename Fn>
    bool Find(Fn& fn, const char* name) {
        fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        return fn != nullptr;
    }
};

#endif  // ORV_OVAPI_H
