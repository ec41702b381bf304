#pragma once
// Trace categories for a user's report, all silent unless asked for: QT_LOGGING_RULES (for example
// "vx.port.debug=true") or a program's --verbose switches them on. Everything is written at debug level.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink) // vx.link: every transaction's frames and outcome
Q_DECLARE_LOGGING_CATEGORY(lcPort) // vx.port: the port's life (open, loss, waiting, reconnect), hot-plug

namespace vx {

// --verbose: every vx.* category on, each line with its time and category (QT_MESSAGE_PATTERN, when
// set, still decides the form). Rules in QT_LOGGING_RULES still win.
void enableVerboseLogging();

} // namespace vx
