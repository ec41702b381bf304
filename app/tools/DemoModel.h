#pragma once
// The demo instrument without an installed simulator: the simulator's own model and link, served on a
// thread of this program over a socket pair. Its values are as simulated as the simulator's, and the
// port session sees one more byte channel.
#include "link/portopen.h"

#include <memory>

namespace vx::app::tools {

// Opens the demo instrument of `variant` ('V' or 'M'); null with err filled when it cannot.
std::unique_ptr<mb::port::FdChannel> openDemoModel(char variant, mb::port::OpenError* err);

} // namespace vx::app::tools
