#pragma once
// Debian's ser2net on the loopback address in front of a device (the simulator's pseudo-terminal), as
// a serial device server in a cabinet would be: raw TCP or RFC 2217. Started and stopped by the test;
// never left running. Its character delay (it gathers a reply for a few character times before
// sending it on, ~2 ms at 115200 bit/s) is off, as it should be for a polled link.
#include "link/netchannel.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

class Ser2net {
public:
    Ser2net(std::string device, mb::port::NetKind kind) : device_(std::move(device)), kind_(kind) {
        port_ = freePort();
    }
    ~Ser2net() { stop(); }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    int port() const { return port_; }
    std::string address() const {
        return std::string(kind_ == mb::port::NetKind::Raw ? "tcp://" : "rfc2217://") +
               "127.0.0.1:" + std::to_string(port_);
    }

    // Starts the server and waits (bounded) until it takes connections. False if it never did.
    bool start() {
        const std::string accepter = std::string(kind_ == mb::port::NetKind::Raw ? "" : "telnet(rfc2217),") +
                                     "tcp,127.0.0.1," + std::to_string(port_);
        const std::string yaml = "connection: &vx#  accepter: " + accepter + "#  connector: serialdev," +
                                 device_ +
                                 ",115200n81,local#  options:#    kickolduser: true#    chardelay: false";
        const char* argv[] = {"/usr/sbin/ser2net", "-n", "-u", "-Y", yaml.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            pid_ = -1;
            return false;
        }
        return listening();
    }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 200 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }

private:
    static int freePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        int port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
        ::close(fd);
        return port;
    }
    // Polls with a bare listen check (a connection would open the device on the server's side).
    bool listening() const {
        std::string needle = ":";
        needle += hex4(port_);
        needle += " 00000000:0000 0A"; // any address, state LISTEN
        for (int i = 0; i < 500; ++i) {
            if (readAll("/proc/net/tcp").find(needle) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    static std::string hex4(int v) {
        char b[8];
        std::snprintf(b, sizeof b, "%04X", v);
        return b;
    }
    static std::string readAll(const char* path) {
        std::string s;
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        char buf[4096];
        ssize_t n;
        while (fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0)
            s.append(buf, static_cast<std::size_t>(n));
        if (fd >= 0) ::close(fd);
        return s;
    }

    std::string device_;
    mb::port::NetKind kind_;
    int port_ = 0;
    pid_t pid_ = -1;
};
