#pragma once
// What a port name stands for, and opening it: a network address (tcp://, rfc2217://), the demo
// instrument (the installed simulator on a pseudo-terminal of its own) or a serial device. Every one
// is a byte channel; whoever holds the port does not need to know which.
#include "link/netchannel.h"
#include "link/portdiscovery.h"
#include "link/serialport_posix.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace mb::port {

// The list's text for the demo instrument; the variant follows it.
inline constexpr std::string_view kDemoText = "Demo instrument (simulated)";
// The demo's names: demo://V (analogue output) and demo://M (MODBUS output).
bool isDemoName(std::string_view name);
std::string demoName(char variant);
// The instrument variant a demo name asks for ('V' or 'M'), 0 for any other name.
char demoVariant(std::string_view name);
// The list's text for a demo name: kDemoText and the variant's model name.
std::string demoText(std::string_view name);

// What the demo's simulator is started with after its name: a calibrated unit of that variant whose
// input wanders slowly, so the window shows something alive.
std::vector<std::string> demoArguments(char variant);

// The simulator that serves the demo: beside the program (as installed), else on PATH. Empty when
// absent; then the demo is offered only where a model runs in-process (OpenOptions::demoModel).
std::string findSimulator(const std::string& programDir, const char* pathVariable);

// The demo instrument's channel: starts the simulator (ended with this program too), opens its
// pseudo-terminal as a serial port, and ends the simulator again on close.
class DemoChannel : public SerialPort {
public:
    ~DemoChannel() override { DemoChannel::close(); }
    bool open(const std::string& simulator, char variant, const LineSettings& line,
              std::chrono::milliseconds bound, OpenError* err);
    void close() override;
    pid_t simulatorPid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// The list's entries beside the devices: the demo instrument in both variants when its simulator is
// there, then the network addresses used recently. Nothing to probe: they are opened on demand.
std::vector<PortEntry> offeredPorts(const std::vector<std::string>& recent, bool demo);

// The recent network addresses with `name` in front (once); other names leave the list as it is.
inline constexpr std::size_t kMaxRecentAddresses = 8;
std::vector<std::string> rememberAddress(std::vector<std::string> recent, const std::string& name);
// The settings file keeps them on one line, separated by blanks (an address holds none).
std::string joinAddresses(const std::vector<std::string>& recent);
std::vector<std::string> splitAddresses(std::string_view line);

struct OpenOptions {
    std::chrono::milliseconds bound = kDefaultConnectBound; // for a connect, or the simulator to start
    std::string simulator;                                  // for the demo instrument
    int cancelFd = -1; // readable: give up a network connect at once (an open off the window's thread)
    // The demo without the simulator: the model in this program (a window sets it; the link knows no
    // model). Unset: the demo needs the simulator.
    std::function<std::unique_ptr<FdChannel>(char variant, OpenError* err)> demoModel;
};

// Opens the port `name` stands for; null with err filled when it cannot be opened.
std::unique_ptr<FdChannel> openChannel(const std::string& name, const LineSettings& line,
                                       const OpenOptions& options, OpenError* err);

// The holder's port, whatever it stands for; the port session owns one and does not need to know
// which kind it has. Remembers the network addresses opened, newest first.
class AnyPort : public ByteChannel {
public:
    OpenOptions options;
    std::vector<std::string> recentAddresses;

    bool open(const std::string& name, const LineSettings& line, OpenError* err);
    // Takes a channel opened elsewhere (off the window's thread) for `name`, as open() would have.
    void adopt(const std::string& name, std::unique_ptr<FdChannel> channel);
    int fd() const override { return channel_ ? channel_->fd() : -1; }
    ReadResult read(std::span<std::uint8_t> buf) override;
    bool write(std::span<const std::uint8_t> bytes) override { return channel_ && channel_->write(bytes); }
    std::size_t pendingOutput() const override { return channel_ ? channel_->pendingOutput() : 0; }
    void flush() override {
        if (channel_) channel_->flush();
    }
    void close() override { channel_.reset(); }
    // The open channel (null while closed), for what only one kind knows (a server's baud rate).
    FdChannel* channel() const { return channel_.get(); }

private:
    std::unique_ptr<FdChannel> channel_;
};

// The panel's list: the devices (probed), then the demo instrument and the recent network addresses.
// `held` is the open port, listed even when the probe cannot open it. Busy ports come without their
// holders: one scan for the whole list (busyPaths, portHoldersOf) adds them.
std::vector<PortEntry> listPorts(const std::string& held, const AnyPort& port);

} // namespace mb::port
