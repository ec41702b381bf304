#pragma once
// Finding the serial ports of the machine: what Qt SerialPort lists plus the paths named in
// MB_EXTRA_PORTS (colon-separated; how pseudo-terminals such as the simulator's are offered), with the
// adapter's /dev/serial/by-id name and USB details, and why a port that exists cannot be opened.
#include "link/serialport_posix.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace mb::port {

// What is known of one candidate port.
struct PortInfo {
    std::string path; // what the link opens
    std::string byId; // its /dev/serial/by-id link, empty if it has none
    std::string description, manufacturer, serialNumber;
    std::uint16_t vendorId = 0, productId = 0; // 0: not a USB device, or unknown
    std::string byPath; // its /dev/serial/by-path link (the socket it sits in), empty if it has none
};

// What a probe found: error.kind None when the port can be opened.
struct ProbeResult {
    OpenError error;
    std::string holders; // a busy port: "program (pid N)", ... where the system shows them
};

// One line of the panel's port list.
struct PortEntry {
    PortInfo info;
    ProbeResult probe;
    bool held = false; // this component holds it open, or waits for it to return
    bool usable() const { return probe.error.kind == OpenFailure::None; }
};

// The paths of MB_EXTRA_PORTS, each once, in order.
std::vector<std::string> extraPorts();

// Qt SerialPort's device paths followed by those of MB_EXTRA_PORTS, each once, with by-id names from
// /dev/serial/by-id.
std::vector<PortInfo> candidatePorts();

// The links of a by-id folder: canonical device path -> link path (the first by name when a device
// has several). Missing folder: empty.
std::map<std::string, std::string> byIdLinks(const std::string& byIdDir);

// The path with every link resolved, or empty when it leads nowhere.
std::string canonicalPath(const std::string& path);

// Order of device paths in which runs of digits compare as numbers (/dev/ttyS2 before /dev/ttyS10).
bool naturalLess(const std::string& a, const std::string& b);

// Opens the port as the list's probe (exclusive, no settings) and says why it cannot be used; a busy
// port names the programs holding it where the system lets us see them.
ProbeResult probeForList(const std::string& path);

using Probe = std::function<ProbeResult(const std::string& path)>;

// The list the panel shows: the candidates that exist, highest first (those that cannot be opened
// stay, with their reason), then the port this component holds, which a probe cannot open, if any.
std::vector<PortEntry> buildPortList(const std::vector<PortInfo>& candidates, const Probe& probe,
                                     const std::string& heldPath);

// The name a port is remembered by: its by-id link where it has one, so an adapter that comes back
// as another ttyUSB is still found; else its path.
std::string rememberedName(const PortInfo& info);

// Whether a lost port that shows up again under its name is the same device: true for a by-id link,
// a device path or a link such as the simulator's; false for a bare terminal under /dev/pts, whose
// number the kernel gives to the next terminal opened (a shell, say).
bool comesBackAsItself(const PortInfo& info, const std::string& devRoot = "/dev");

// Whether `candidate` is the very device `lost` was, so that the link may reopen it unasked (many
// adapters share a by-id name): a USB adapter with a serial number of its own by vendor, product and
// serial number; one without (or with a placeholder such as "0001") by the socket it sits in (its
// by-path name) with vendor and product; anything else (a pseudo-terminal's link, an extra port) by
// its path.
bool isSameDevice(const PortInfo& lost, const PortInfo& candidate);
// The row, not held by this component, that is the lost device; -1 when none.
int findSameDevice(const std::vector<PortEntry>& entries, const PortInfo& lost);

// The row a remembered name stands for: a by-id link or a plain path (as older settings files hold
// them, and as ports without a by-id link are remembered). -1 when none.
int findRemembered(const std::vector<PortEntry>& entries, const std::string& remembered);

// A device path without /dev/ (ttyUSB0, pts/3), or the file name of a path elsewhere.
std::string deviceName(const std::string& path);

// The list's text for a port: its device name, then the adapter's product where known.
std::string shortName(const PortInfo& info);

// The list's tooltip: path, by-id link, USB maker, product, serial number and ids, and the reason.
std::string describePort(const PortEntry& entry);

// One short sentence for the panel: why the port called `name` cannot be used.
std::string shortReason(const std::string& name, const ProbeResult& why);

// "program (pid N)" for every process holding the device open, as far as `procRoot` shows them,
// joined by commas.
std::string portHolders(const std::string& path, const std::string& procRoot = "/proc");

} // namespace mb::port
