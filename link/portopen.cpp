#include "link/portopen.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace mb::port {

namespace {

constexpr std::string_view kDemoScheme = "demo://";

bool executable(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

OpenError demoFailure(int error, const std::string& why) {
    OpenError e;
    e.kind = OpenFailure::Other;
    e.error = error;
    e.system = std::strerror(error);
    e.reason = "The demo instrument cannot start: " + why;
    return e;
}

// Reads the simulator's first line (its device path) within the bound.
std::string firstLine(int fd, std::chrono::milliseconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    std::string line;
    char c;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0) return {};
        if (c == '\n') return line;
        if (line.size() > 4096) return {};
        line += c;
    }
}

// SIGTERM (the simulator saves and ends at once), SIGKILL if it has not ended within a second.
void endProcess(pid_t pid) {
    ::kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
}

} // namespace

bool isDemoName(std::string_view name) {
    return demoVariant(name) != 0;
}

std::string demoName(char variant) {
    return std::string(kDemoScheme) + variant;
}

char demoVariant(std::string_view name) {
    if (name == demoName('V')) return 'V';
    if (name == demoName('M')) return 'M';
    return 0;
}

std::string demoText(std::string_view name) {
    return std::string(kDemoText) + (demoVariant(name) == 'M' ? ", VX2207 M" : ", VX2207 V");
}

std::vector<std::string> demoArguments(char variant) {
    return {"--calibrated", "--variant", std::string(1, variant), "--signal", "sine:4:16:30"};
}

std::string findSimulator(const std::string& programDir, const char* pathVariable) {
    if (!programDir.empty() && executable(programDir + "/vx2207-sim")) return programDir + "/vx2207-sim";
    const std::string path = pathVariable ? pathVariable : "";
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t end = std::min(path.find(':', at), path.size());
        const std::string dir = path.substr(at, end - at);
        if (!dir.empty() && executable(dir + "/vx2207-sim")) return dir + "/vx2207-sim";
        at = end + 1;
    }
    return {};
}

std::vector<PortEntry> offeredPorts(const std::vector<std::string>& recent, bool demo) {
    std::vector<PortEntry> entries;
    const auto add = [&](const std::string& name, std::string description) {
        PortEntry e;
        e.info.path = name;
        e.info.description = std::move(description);
        entries.push_back(std::move(e));
    };
    if (demo)
        for (char variant : {'V', 'M'})
            add(demoName(variant), demoText(demoName(variant)));
    for (const std::string& a : recent)
        if (parseNetAddress(a)) add(a, a);
    return entries;
}

std::vector<std::string> rememberAddress(std::vector<std::string> recent, const std::string& name) {
    if (!parseNetAddress(name)) return recent;
    std::erase(recent, name);
    recent.insert(recent.begin(), name);
    if (recent.size() > kMaxRecentAddresses) recent.resize(kMaxRecentAddresses);
    return recent;
}

std::string joinAddresses(const std::vector<std::string>& recent) {
    std::string line;
    for (const std::string& a : recent)
        line += (line.empty() ? "" : " ") + a;
    return line;
}

std::vector<std::string> splitAddresses(std::string_view line) {
    std::vector<std::string> recent;
    while (!line.empty() && recent.size() < kMaxRecentAddresses) {
        const std::size_t end = std::min(line.find(' '), line.size());
        const std::string a(line.substr(0, end));
        if (parseNetAddress(a) && std::find(recent.begin(), recent.end(), a) == recent.end())
            recent.push_back(a);
        line.remove_prefix(std::min(end + 1, line.size()));
    }
    return recent;
}

bool DemoChannel::open(const std::string& simulator, char variant, const LineSettings& line,
                       std::chrono::milliseconds bound, OpenError* err) {
    close();
    if (simulator.empty()) {
        if (err) *err = demoFailure(ENOENT, "vx2207-sim is not installed.");
        return false;
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        if (err) *err = demoFailure(errno, std::strerror(errno));
        return false;
    }
    // It ends with this program, whatever way that goes.
    std::vector<std::string> args = {simulator, "--exit-with-parent"};
    for (std::string& a : demoArguments(variant))
        args.push_back(std::move(a));
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    // Kept aside until the port is open: opening closes whatever the channel held first.
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, simulator.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        if (err) *err = demoFailure(rc, simulator + ": " + std::strerror(rc) + ".");
        return false;
    }
    const std::string device = firstLine(out[0], bound);
    ::close(out[0]);
    if (device.empty()) {
        endProcess(pid);
        if (err) *err = demoFailure(ETIMEDOUT, "the simulator did not name its device.");
        return false;
    }
    if (!SerialPort::open(device, line, err)) {
        endProcess(pid);
        return false;
    }
    pid_ = pid;
    return true;
}

void DemoChannel::close() {
    SerialPort::close();
    if (pid_ > 0) endProcess(pid_);
    pid_ = -1;
}

std::unique_ptr<FdChannel> openChannel(const std::string& name, const LineSettings& line,
                                       const OpenOptions& options, OpenError* err) {
    if (isNetworkAddress(name)) {
        const auto address = parseNetAddress(name);
        if (!address) {
            if (err) {
                err->kind = OpenFailure::Other;
                err->error = EINVAL;
                err->system = std::strerror(EINVAL);
                err->reason = name + " is no network address: write tcp://host:port or rfc2217://host:port.";
            }
            return nullptr;
        }
        auto c = std::make_unique<NetChannel>();
        if (!c->open(*address, line, options.bound, err, options.cancelFd)) return nullptr;
        return c;
    }
    if (const char variant = demoVariant(name)) {
        if (options.simulator.empty() && options.demoModel) return options.demoModel(variant, err);
        auto c = std::make_unique<DemoChannel>();
        if (!c->open(options.simulator, variant, line, options.bound, err)) return nullptr;
        return c;
    }
    auto c = std::make_unique<SerialPort>();
    if (!c->open(name, line, err)) return nullptr;
    return c;
}

bool AnyPort::open(const std::string& name, const LineSettings& line, OpenError* err) {
    adopt(name, openChannel(name, line, options, err));
    return channel_ != nullptr;
}

void AnyPort::adopt(const std::string& name, std::unique_ptr<FdChannel> channel) {
    channel_ = std::move(channel);
    if (channel_) recentAddresses = rememberAddress(std::move(recentAddresses), name);
}

ReadResult AnyPort::read(std::span<std::uint8_t> buf) {
    if (channel_) return channel_->read(buf);
    ReadResult r;
    r.lost = true;
    r.error = EBADF;
    return r;
}

std::vector<PortEntry> listPorts(const std::string& held, const AnyPort& port) {
    const bool device = held.find("://") == std::string::npos;
    std::vector<PortEntry> entries = buildPortList(candidatePorts(), probeWithoutHolders, device ? held : "");
    const bool demo = !port.options.simulator.empty() || port.options.demoModel;
    for (PortEntry& e : offeredPorts(port.recentAddresses, demo)) {
        e.held = !device && e.info.path == held;
        entries.push_back(std::move(e));
    }
    return entries;
}

} // namespace mb::port
