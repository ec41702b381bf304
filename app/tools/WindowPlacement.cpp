#include "app/tools/WindowPlacement.h"

#include <algorithm>
#include <cstdint>

namespace vx::app::tools {

std::optional<QRect> restoredGeometry(const QString& left, const QString& top, const QString& width,
                                      const QString& height, const QList<QRect>& screens) {
    bool ok[4] = {};
    const std::int64_t x = left.toLongLong(&ok[0]), y = top.toLongLong(&ok[1]);
    const std::int64_t w = width.toLongLong(&ok[2]), h = height.toLongLong(&ok[3]);
    if (!(ok[0] && ok[1] && ok[2] && ok[3])) return std::nullopt;
    // A window from another screen layout, or nonsense, is not put where nobody sees it. Beyond a
    // billion pixels no screen is near, and sums of such values stay far inside 64 bits.
    constexpr std::int64_t kFar = 1'000'000'000;
    if (w < 200 || h < 150 || w > 10000 || h > 10000 || x < -kFar || x > kFar || y < -kFar || y > kFar)
        return std::nullopt;

    const QRect* best = nullptr;
    std::int64_t bestArea = 0;
    for (const QRect& s : screens) {
        const std::int64_t ow =
            std::min<std::int64_t>(x + w, s.x() + std::int64_t{s.width()}) - std::max<std::int64_t>(x, s.x());
        const std::int64_t oh = std::min<std::int64_t>(y + h, s.y() + std::int64_t{s.height()}) -
                                std::max<std::int64_t>(y, s.y());
        if (ow > 0 && oh > 0 && ow * oh > bestArea) {
            bestArea = ow * oh;
            best = &s;
        }
    }
    if (!best) return std::nullopt;
    const int fitW = static_cast<int>(std::min<std::int64_t>(w, best->width()));
    const int fitH = static_cast<int>(std::min<std::int64_t>(h, best->height()));
    const auto fitX =
        static_cast<int>(std::clamp<std::int64_t>(x, best->x(), best->x() + best->width() - fitW));
    const auto fitY =
        static_cast<int>(std::clamp<std::int64_t>(y, best->y(), best->y() + best->height() - fitH));
    return QRect(fitX, fitY, fitW, fitH);
}

} // namespace vx::app::tools
