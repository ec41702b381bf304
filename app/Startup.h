#pragma once
// How vx2207-config starts once its command line is checked: the application's look and numbers, then
// the window with its firmware dialog, placed, shown and opening the port the command line names.
// Programs that render or time the window (the screenshot tour, the start-up benchmark) start it the
// same way, so what they show is what the program shows.
#include "app/CommandLine.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class TForm_DUTHiba;
class TForm_Main;

namespace vx::app {

// After the application object exists: the desktop entry's name, the desktop's decimal separator and
// the window's font.
void prepareApplication();

class ProgramWindow {
public:
    // settingsPath: empty means the usual place. arguments: the command line `line` was read from,
    // without the program's path; unset means the application's own.
    ProgramWindow(const CommandLine& line, const QString& settingsPath,
                  std::optional<QStringList> arguments = std::nullopt);
    ~ProgramWindow();
    // Shows the window; the port the command line names is opened as the event loop starts.
    void show();
    TForm_Main& window() { return *main_; }
    TForm_DUTHiba& firmwareDialog() { return *dialog_; }

private:
    CommandLine line_;
    // Held apart so that this header does not pull in the window's; kept in this order so that the
    // dialog is destroyed before its parent, the window.
    std::unique_ptr<TForm_Main> main_;
    std::unique_ptr<TForm_DUTHiba> dialog_;
};

} // namespace vx::app
