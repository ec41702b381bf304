#pragma once
// What the link panel says when no serial port is found at all, so a first start without the adapter
// is not two greyed buttons and nothing else. Plain text, no Qt.
#include <string>

namespace mb::port {

// One short sentence for below the panel.
std::string noPortNotice();
// The steps in full, for its tooltip: the adapter, a try with the simulator, the dialout group.
std::string noPortHelp();

} // namespace mb::port
