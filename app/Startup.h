#pragma once
// How vx2207-config starts once its command line is checked: the application's look and numbers, then
// the window with its firmware dialog, placed, shown and opening the port the command line names.
// Programs that render or time the window (the screenshot tour, the start-up benchmark) start it the
// same way, so what they show is what the program shows.
#include "app/CommandLine.h"
#include "app/DUTHiba.h"
#include "app/Main.h"

namespace vx::app {

// After the application object exists: the desktop entry's name, the desktop's decimal separator and
// the window's font.
void prepareApplication();

class ProgramWindow {
public:
    // options.arguments: the command line `line` was read from, without the program's path; unset
    // means the application's own.
    ProgramWindow(const CommandLine& line, TForm_Main::Options options);
    // Shows the window; the port the command line names is opened as the event loop starts.
    void show();
    TForm_Main& window() { return main_; }
    TForm_DUTHiba& firmwareDialog() { return dialog_; }

private:
    CommandLine line_;
    TForm_Main main_;
    TForm_DUTHiba dialog_; // destroyed before its parent, the window
};

} // namespace vx::app
