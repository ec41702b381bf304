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
    explicit Listener(bool listens = true) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        if (listens) ::listen(fd, 0);
    }
    ~Listener() { ::close(fd); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    mb::port::NetAddress address(mb::port::NetKind kind = mb::port::NetKind::Raw) const {
        return {kind, "127.0.0.1", port};
    }
};
