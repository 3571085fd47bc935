/*
 * calls.h - the platform calls of the local ports that no
 * stand-in device can answer under test: the parallel and USB printer
 * driver requests (and the cancel that ends a pending one), the serial
 * port's status (its DSR hold), the SetupAPI list of USB printers, and
 * the clock (the tick count and the pause between polls), whose steps
 * on Windows (15.6 ms by default) Wine does not have.
 * They point at the real functions; only tests linking the internal
 * library replace them, to play a driver's answers or Windows' clock.
 */
#ifndef ORVCOMMS_LOCALPORT_CALLS_H
#define ORVCOMMS_LOCALPORT_CALLS_H

#include <windows.h>
#include <setupapi.h>

namespace orv {

struct LocalPortCalls {
    decltype(&::DeviceIoControl) device_io_control;
    decltype(&::CancelIo) cancel_io;
    decltype(&::ClearCommError) clear_comm_error;
    decltype(&::SetupDiGetClassDevsA) get_class_devs;
    decltype(&::SetupDiEnumDeviceInterfaces) enum_device_interfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailA) get_interface_detail;
    decltype(&::SetupDiDestroyDeviceInfoList) destroy_device_info_list;
    decltype(&::GetTickCount64) tick_count;  // every deadline and elapsed time
    void (*pause)(ULONGLONG ms);             // BusyPause
};

/* The real pause: busy, on the tick count, in chunks of at most 500 ms. */
void BusyPause(ULONGLONG ms);

extern LocalPortCalls g_localport_calls;

}  // namespace orv

#endif  // ORVCOMMS_LOCALPORT_CALLS_H
