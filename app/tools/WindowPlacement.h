#pragma once
// Where an added window comes up from the geometry the settings file holds for it.
#include <QList>
#include <QRect>
#include <QString>
#include <optional>

namespace vx::app::tools {

// left, top, width and height as read from the file; screens: the screens' available areas. None when
// the texts are no numbers, the size is nonsense or the window would be on no screen; otherwise the
// window, shrunk to the screen it overlaps most where it is larger and moved fully onto it. Any text is
// safe: the arithmetic never leaves its range.
std::optional<QRect> restoredGeometry(const QString& left, const QString& top, const QString& width,
                                      const QString& height, const QList<QRect>& screens);

} // namespace vx::app::tools
