// vx2207-sim: a VX2207 instrument on a pseudo-terminal, for the configurator's tests, benchmarks and
// demonstrations.
#include "sim/simulator.h"
#include "sim/statefile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) {
    stopRequested = 1;
}

// Makes link point at target. An existing symbolic link is replaced; anything else is left alone.
bool makeLink(const std::string& link, const std::string& target) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "vx2207-sim: %s exists and is not a symbolic link\n", link.c_str());
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "vx2207-sim: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// Removes the link only while it still points at this run's device.
void removeLink(const std::string& link, const std::string& target) {
    char buf[512];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n > 0 && std::string(buf, static_cast<std::size_t>(n)) == target) unlink(link.c_str());
}

// A listening socket on the loopback address only: the simulator is a test instrument, not a service
// for the network. -1 with *error set.
int listenLoopback(int port, std::string* error) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 1) != 0) {
        *error = std::strerror(errno);
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

// Serves one connection after another until a signal asks to stop; one instrument, so a second
// client waits until the first has gone, as on a device server's port.
void serveTcp(vx::sim::Simulator& sim, int listener) {
    while (!stopRequested) {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        const int conn = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (conn < 0) continue;
        const int on = 1;
        setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sim.setFd(conn);
        sim.serve(&stopRequested);
        sim.setFd(-1);
        close(conn);
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace vx::sim;
    Options options;
    bool help = false;
    std::string error;
    if (!parseOptions(argc, argv, &options, &help, &error)) {
        std::fprintf(stderr, "vx2207-sim: %s\nTry 'vx2207-sim --help'.\n", error.c_str());
        return 2;
    }
    if (help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }

    if (options.exitWithParent) {
        const pid_t parent = getppid();
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) return 0; // the parent was already gone
    }

    Memory memory = startingMemory(options);
    bool framError = false;
    if (!options.stateFile.empty() && loadMemory(options.stateFile, &memory) == LoadResult::Broken) {
        std::fprintf(stderr, "vx2207-sim: %s is unreadable; starting from factory data\n",
                     options.stateFile.c_str());
        framError = true;
    }

    int listener = -1;
    if (options.tcpPort >= 0) {
        if ((listener = listenLoopback(options.tcpPort, &error)) < 0) {
            std::fprintf(stderr, "vx2207-sim: cannot listen on port %d: %s\n", options.tcpPort,
                         error.c_str());
            return 1;
        }
        sockaddr_in a{};
        socklen_t len = sizeof a;
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        options.link.clear(); // there is no device to link to
        error = "tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    }
    Pty pty;
    if (listener >= 0) {
        pty.path = error;
    } else if (!openPty(&pty, &error)) {
        std::fprintf(stderr, "vx2207-sim: cannot create a pseudo-terminal: %s\n", error.c_str());
        return 1;
    }
    if (!options.link.empty() && !makeLink(options.link, pty.path)) {
        closePty(&pty);
        return 1;
    }
    int control = -1;
    if (!options.controlPath.empty() && (control = openControlFifo(options.controlPath, &error)) < 0) {
        std::fprintf(stderr, "vx2207-sim: %s\n", error.c_str());
        if (!options.link.empty()) removeLink(options.link, pty.path);
        closePty(&pty);
        return 1;
    }

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    int status = 0;
    {
        Simulator sim(options, pty.master, memory, framError, control);
        // Everything is in place once the device path is out: the control FIFO and the meter file.
        if (!sim.openBench(&error)) {
            std::fprintf(stderr, "vx2207-sim: %s\n", error.c_str());
            status = 1;
        } else if (sim.writeMeter()) {
            std::printf("%s\n%s", pty.path.c_str(), sim.benchPlaces().c_str());
            std::fflush(stdout);
            if (listener >= 0)
                serveTcp(sim, listener);
            else
                sim.serve(&stopRequested);
        } else {
            status = 1;
        }
    }
    if (control >= 0) closeControlFifo(control, options.controlPath);
    if (!options.link.empty()) removeLink(options.link, pty.path);
    closePty(&pty);
    if (listener >= 0) close(listener);
    return status;
}
