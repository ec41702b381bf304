#pragma once
// Finding the serial ports of the machine: what Qt SerialPort lists plus the paths named in
// MB_EXTRA_PORTS (colon-separated; how pseudo-terminals such as the simulator's are offered).
#include <functional>
#include <string>
#include <vector>

namespace mb::port {

// Qt SerialPort's device paths followed by those of MB_EXTRA_PORTS, each once.
std::vector<std::string> candidatePorts();

// Order of device paths in which runs of digits compare as numbers (/dev/ttyS2 before /dev/ttyS10).
bool naturalLess(const std::string& a, const std::string& b);

// The list the panel shows: the candidates that the probe can open, the highest first, then the
// port this component holds open (which a probe cannot open) if any.
std::vector<std::string> buildPortList(const std::vector<std::string>& candidates,
                                       const std::function<bool(const std::string&)>& probe,
                                       const std::string& openPort);

} // namespace mb::port
