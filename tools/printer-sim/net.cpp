/*
 * net.cpp - address text, listening sockets, namespace switching.
 *
 * Creating a socket in another network namespace means switching the
 * calling thread there with setns(), creating and binding the socket, and
 * switching back. The simulator has one thread, so nothing else can run
 * in the wrong namespace meanwhile; NetnsVisit makes sure the way back is
 * taken on every path.
 */
#include "net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kNetnsDir[] = "/run/netns/";

/* While alive, the thread works in another network namespace. */
class NetnsVisit {
public:
    bool Enter(const std::string& name, std::string* error) {
        if (name.find('/') != std::string::npos || name.empty() || name == "." || name == "..") {
            *error = "bad netns name " + name;
            return false;
        }
        home_.Reset(open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
        if (!home_.Valid()) {
            *error = "open /proc/self/ns/net: " + ErrorText(errno);
            return false;
        }
        UniqueFd target(open((kNetnsDir + name).c_str(), O_RDONLY | O_CLOEXEC));
        if (!target.Valid()) {
            *error = "netns " + name + ": " + ErrorText(errno);
            home_.Reset();
            return false;
        }
        if (setns(target.Get(), CLONE_NEWNET) != 0) {
            *error = "setns " + name + ": " + ErrorText(errno);
            home_.Reset();
            return false;
        }
        return true;
    }
    ~NetnsVisit() {
        /* Failing to come back would leave every later socket in the
         * wrong namespace: better to stop than to serve the wrong net. */
        if (home_.Valid() && setns(home_.Get(), CLONE_NEWNET) != 0)
            abort();
    }

private:
    UniqueFd home_;   /* the namespace to return to; invalid when not away */
};

UniqueFd ListenHere(const sockaddr_in& endpoint, const ListenSettings& settings, std::string* error) {
    UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        *error = "socket: " + ErrorText(errno);
        return fd;
    }
    int on = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    /* Set before listen() so that accepted sockets inherit it and the
     * window offered in the handshake is already the small one. */
    if (settings.receive_buffer > 0 &&
        setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &settings.receive_buffer,
                   sizeof settings.receive_buffer) != 0) {
        *error = "SO_RCVBUF: " + ErrorText(errno);
        return UniqueFd();
    }
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint) != 0) {
        *error = "bind " + FormatEndpoint(endpoint) + ": " + ErrorText(errno);
        return UniqueFd();
    }
    if (listen(fd.Get(), settings.backlog) != 0) {
        *error = "listen " + FormatEndpoint(endpoint) + ": " + ErrorText(errno);
        return UniqueFd();
    }
    return fd;
}

UniqueFd UdpHere(const sockaddr_in& endpoint, std::string* error) {
    UniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        *error = "socket: " + ErrorText(errno);
        return fd;
    }
    int on = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint) != 0) {
        *error = "bind udp " + FormatEndpoint(endpoint) + ": " + ErrorText(errno);
        return UniqueFd();
    }
    return fd;
}

std::string EndpointOf(int fd, bool peer) {
    sockaddr_in address;
    socklen_t size = sizeof address;
    memset(&address, 0, sizeof address);
    int rc = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size)
                  : getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    if (rc != 0 || address.sin_family != AF_INET)
        return "-";
    return FormatEndpoint(address);
}

}  // namespace

std::string ErrorText(int err) {
    return strerror(err);
}

bool ParseIpv4(const std::string& text, in_addr* address) {
    return inet_pton(AF_INET, text.c_str(), address) == 1;
}

bool ParseEndpoint(const std::string& text, sockaddr_in* endpoint) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 >= text.size())
        return false;
    memset(endpoint, 0, sizeof *endpoint);
    endpoint->sin_family = AF_INET;
    if (!ParseIpv4(text.substr(0, colon), &endpoint->sin_addr))
        return false;
    const std::string port = text.substr(colon + 1);
    if (port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5)
        return false;
    unsigned long value = strtoul(port.c_str(), nullptr, 10);
    if (value > 65535)
        return false;
    endpoint->sin_port = htons(static_cast<uint16_t>(value));
    return true;
}

std::string FormatEndpoint(const sockaddr_in& endpoint) {
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &endpoint.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(endpoint.sin_port));
}

std::string LocalEndpointOf(int fd) {
    return EndpointOf(fd, false);
}

std::string PeerEndpointOf(int fd) {
    return EndpointOf(fd, true);
}

UniqueFd ListenTcp(const sockaddr_in& endpoint, const ListenSettings& settings,
                   const std::string& netns, std::string* error) {
    if (netns.empty())
        return ListenHere(endpoint, settings, error);
    NetnsVisit visit;
    if (!visit.Enter(netns, error))
        return UniqueFd();
    return ListenHere(endpoint, settings, error);
}

UniqueFd OpenUdp(const sockaddr_in& endpoint, const std::string& netns, std::string* error) {
    if (netns.empty())
        return UdpHere(endpoint, error);
    NetnsVisit visit;
    if (!visit.Enter(netns, error))
        return UniqueFd();
    return UdpHere(endpoint, error);
}
