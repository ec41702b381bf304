#include "link/logging.h"

Q_LOGGING_CATEGORY(lcLink, "vx.link", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPort, "vx.port", QtInfoMsg)

namespace vx {

void enableVerboseLogging() {
    QLoggingCategory::setFilterRules(QStringLiteral("vx.*.debug=true"));
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QStringLiteral("%{time hh:mm:ss.zzz} %{category} %{message}"));
}

} // namespace vx
