#pragma once
// A listening socket on a free loopback port. Backlog 0 lets one connection queue and no more: with
// that one taken (connectTcp to it, never accepted) the kernel drops further SYNs, so the address
// never answers, as a black-holed one does, without any network.
#include "link/netchannel.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

struct Listener {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t port = 0;
    // at: a given port (a server that just went away, come back as this one); backlog: how many
    // connections the kernel completes without them ever being accepted or answered.
    explicit Listener(bool listens = true, std::uint16_t at = 0, int backlog = 0) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(at);
        const int on = 1;
        if (at) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        if (listens) ::listen(fd, backlog);
    }
    ~Listener() { ::close(fd); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    mb::port::NetAddress address(mb::port::NetKind kind = mb::port::NetKind::Raw) const {
        return {kind, "127.0.0.1", port};
    }
};
