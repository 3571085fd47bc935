/*
 * socket_calls.h - the socket calls that tests need to observe or fail on
 * purpose, because a real socket layer will not produce the case on
 * demand: the start of a connection (an "address in use" answer), the send
 * and the receive of the print channel (the size of each piece, and which
 * socket each call reaches), and the start-up and clean-up of the socket
 * layer (a start that fails, or grants another version), and the socket
 * control request of the connect probe (Windows' answer to a refused
 * connect depends on it, and Wine does not carry it out). They point at
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
    int(WSAAPI* recv)(SOCKET, char*, int, int);
    int(WSAAPI* startup)(WORD, LPWSADATA);
    int(WSAAPI* cleanup)(void);
    int(WSAAPI* ioctl)(SOCKET, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPWSAOVERLAPPED,
                       LPWSAOVERLAPPED_COMPLETION_ROUTINE);
};

extern SocketCalls g_socket_calls;

}  // namespace orv

#endif  // ORVCOMMS_SOCKET_CALLS_H
