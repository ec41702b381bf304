#include "app/tools/ToolsLog.h"

Q_LOGGING_CATEGORY(lcTools, "vx.tools", QtInfoMsg)
