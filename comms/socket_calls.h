/*
 * socket_calls.h - the two socket calls of the print channel that tests
 * need to observe or fail on purpose: the start of a connection (to give
 * an "address in use" answer, which a real socket layer will not produce
 * on demand) and the send (to see the size of each piece). They point at
 * the real Winsock functions; only tests linking the internal library
 * replace them.
 */
#ifndef ORVCOMMS_SOCKET_CALLS_H
#define ORVCOMMS_SOCKET_CALLS_H

#include <winsock2.h>

namespace orv {

struct SocketCalls {
    int(WSAAPI* connect)(SOCKET, const sockaddr*, int);
    int(WSAAPI* send)(SOCKET, const char*, int, int);
};

extern SocketCalls g_socket_calls;

}  // namespace orv

#endif  // ORVCOMMS_SOCKET_CALLS_H
