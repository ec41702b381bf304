#pragma once
// How the configurator ends on a signal: as when its window is closed.
class TForm_Main;

namespace vx::app {

// Ctrl-C (SIGINT), logout (SIGHUP) and kill (SIGTERM) close the window as the user would: the port
// closed (its low-latency setting undone), the recording closed, the settings written. SIGPIPE is
// ignored, so a reader that goes away costs a failed write, not the program.
void closeOnTerminationSignals(TForm_Main& main);

} // namespace vx::app
