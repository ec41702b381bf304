#include "link/porthelp.h"

namespace mb::port {

std::string noPortNotice() {
    return "No serial port found: plug the adapter in (tooltip: more).";
}

std::string noPortHelp() {
    return "No serial port was found.\n"
           "1. Plug the USB serial adapter in; the list follows by itself.\n"
           "2. To try the program without an instrument, start the simulator with a path of its own,\n"
           "   vx2207-sim --link /tmp/vx2207.tty\n"
           "   and this program with that path added:\n"
           "   MB_EXTRA_PORTS=/tmp/vx2207.tty vx2207-config\n"
           "3. Real ports need the dialout group: sudo adduser $USER dialout, then log in again.";
}

} // namespace mb::port
