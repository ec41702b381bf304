#pragma once
// vx.tools: what the added windows do (recording, backups, trend and monitor windows), silent unless
// asked for (QT_LOGGING_RULES or --verbose, see link/logging.h).
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcTools)
