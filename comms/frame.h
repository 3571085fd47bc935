/*
 * frame.h - start-up and clean-up of the socket layer.
 */
#ifndef ORVCOMMS_FRAME_H
#define ORVCOMMS_FRAME_H

#include <windows.h>

namespace orv {

/* Keeps `instance` and starts Windows Sockets 1.1; 1 when exactly 1.1 was
 * granted, else 0 with the socket layer cleaned up again. */
int Startup(HINSTANCE instance);

/* WSACleanup; 1 when it succeeded, else 0. */
int Cleanup();

}  // namespace orv

#endif  // ORVCOMMS_FRAME_H
