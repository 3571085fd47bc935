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

    // Local ports: serial, parallel, USB.
    decltype(&OvOpenPort_COM) OpenPort_COM = nullptr;
    decltype(&OvClosePort_COM) ClosePort_COM = nullptr;
    decltype(&OvRecvPort_COM) RecvPort_COM = nullptr;
    decltype(&OvWritePort_COM) WritePort_COM = nullptr;
    decltype(&OvGetComConf) GetComConf = nullptr;
    decltype(&OvSetComConf) SetComConf = nullptr;
    decltype(&OvOpenPort_LPT) OpenPort_LPT = nullptr;
    decltype(&OvClosePort_LPT) ClosePort_LPT = nullptr;
    decltype(&OvRecvPort_LPT) RecvPort_LPT = nullptr;
    decltype(&OvWritePort_LPT) WritePort_LPT = nullptr;
    decltype(&OvSendCancel_LPT) SendCancel_LPT = nullptr;
    decltype(&OvGetDeviceID_LPT) GetDeviceID_LPT = nullptr;
    decltype(&OvGetTimeOut_LPT) GetTimeOut_LPT = nullptr;
    decltype(&OvSetTimeOut_LPT) SetTimeOut_LPT = nullptr;
    decltype(&OvOpenPort_USB) OpenPort_USB = nullptr;
    decltype(&OvClosePort_USB) ClosePort_USB = nullptr;
    decltype(&OvRecvPort_USB) RecvPort_USB = nullptr;
    decltype(&OvWritePort_USB) WritePort_USB = nullptr;
    decltype(&OvSendCancel_USB) SendCancel_USB = nullptr;
    decltype(&OvGetDeviceID_USB) GetDeviceID_USB = nullptr;
    decltype(&OvSendSearch_USB) SendSearch_USB = nullptr;
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
        ok = ok && FindLocalPorts();
        ok = ok && Find(OpenStatus, "OvOpenStatus") && Find(GetStatus, "OvGetStatus") &&
             Find(GetDeviceID, "OvGetDeviceID") && Find(CloseStatus, "OvCloseStatus") &&
             Find(SendICMP, "OvSendICMP") && Find(SendICMPAsync, "OvSendICMP_Async") &&
             Find(SetUseICMP, "OvSetUseICMP");
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
    bool FindLocalPorts() {
        return Find(OpenPort_COM, "OvOpenPort_COM") && Find(ClosePort_COM, "OvClosePort_COM") &&
               Find(RecvPort_COM, "OvRecvPort_COM") && Find(WritePort_COM, "OvWritePort_COM") &&
               Find(GetComConf, "OvGetComConf") && Find(SetComConf, "OvSetComConf") &&
               Find(OpenPort_LPT, "OvOpenPort_LPT") && Find(ClosePort_LPT, "OvClosePort_LPT") &&
               Find(RecvPort_LPT, "OvRecvPort_LPT") && Find(WritePort_LPT, "OvWritePort_LPT") &&
               Find(SendCancel_LPT, "OvSendCancel_LPT") &&
               Find(GetDeviceID_LPT, "OvGetDeviceID_LPT") &&
               Find(GetTimeOut_LPT, "OvGetTimeOut_LPT") && Find(SetTimeOut_LPT, "OvSetTimeOut_LPT") &&
               Find(OpenPort_USB, "OvOpenPort_USB") && Find(ClosePort_USB, "OvClosePort_USB") &&
               Find(RecvPort_USB, "OvRecvPort_USB") && Find(WritePort_USB, "OvWritePort_USB") &&
               Find(SendCancel_USB, "OvSendCancel_USB") &&
               Find(GetDeviceID_USB, "OvGetDeviceID_USB") && Find(SendSearch_USB, "OvSendSearch_USB");
    }

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
