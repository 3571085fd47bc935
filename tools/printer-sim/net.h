/*
 * net.h - IPv4 socket helpers of the printer simulator: address text,
 * listening sockets, and network namespaces.
 *
 * A simulated printer can live inside a network namespace that a test rig
 * made (/run/netns/NAME): its listening sockets are created there, and a
 * socket stays in the namespace it was created in, so the rest of the
 * simulator never needs to know.
 */
#pragma once

#include <netinet/in.h>

#include <string>

#include "fd.h"

/* "a.b.c.d" into *address; false for anything else (names included). */
bool ParseIpv4(const std::string& text, in_addr* address);
/* "a.b.c.d:port" into *endpoint. */
bool ParseEndpoint(const std::string& text, sockaddr_in* endpoint);
std::string FormatEndpoint(const sockaddr_in& endpoint);
std::string LocalEndpointOf(int fd);
std::string PeerEndpointOf(int fd);

/* Text of errno value err, for one-line error replies. */
std::string ErrorText(int err);

struct ListenSettings {
    int receive_buffer = 0;   /* SO_RCVBUF before listen(); 0 = system default */
    int backlog = 16;
};

/* A non-blocking listening TCP socket with SO_REUSEADDR at endpoint,
 * created inside network namespace netns when that is not empty. On
 * failure returns an invalid fd and says why in *error. */
UniqueFd ListenTcp(const sockaddr_in& endpoint, const ListenSettings& settings,
                   const std::string& netns, std::string* error);

/* A non-blocking UDP socket with SO_BROADCAST bound to endpoint (port 0:
 * any port), created inside network namespace netns when that is not
 * empty. On failure returns an invalid fd and says why in *error. */
UniqueFd OpenUdp(const sockaddr_in& endpoint, const std::string& netns, std::string* error);
