#include "app/tools/TrendStore.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace vx::app::tools {

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::int64_t floorTo(std::int64_t t, std::int64_t step) {
    const std::int64_t r = t % step;
    return r < 0 ? t - r - step : t - r;
}

// Reduces a run of points to the lowest and the highest of each pixel column, in their order, and
// breaks the line where it is told to or where two points lie too far apart.
class Columns {
public:
    Columns(std::vector<TrendPoint>& out, std::int64_t t0, std::int64_t t1, int columns)
        : out_(out), t0_(t0), width_(std::max(1.0, static_cast<double>(t1 - t0) / std::max(1, columns))) {}

    void take(std::int64_t t, double v) {
        if (std::isnan(v)) return brk(t);
        if (last_ && t - *last_ > TrendStore::kMaxStepMs) brk(*last_ + 1);
        last_ = t;
        const auto col = static_cast<std::int64_t>(std::floor(static_cast<double>(t - t0_) / width_));
        if (n_ > 0 && col != col_) flush();
        if (n_ == 0) {
            col_ = col;
            lo_ = hi_ = {t, v};
        } else {
            if (v < lo_.v) lo_ = {t, v};
            if (v > hi_.v) hi_ = {t, v};
        }
        ++n_;
    }
    void brk(std::int64_t t) {
        flush();
        last_.reset();
        if (!out_.empty() && !std::isnan(out_.back().v)) out_.push_back({t, std::nan("")});
    }
    void flush() {
        if (n_ == 0) return;
        const TrendPoint& a = lo_.t <= hi_.t ? lo_ : hi_;
        const TrendPoint& b = lo_.t <= hi_.t ? hi_ : lo_;
        out_.push_back(a);
        if (b.t != a.t || b.v != a.v) out_.push_back(b);
        n_ = 0;
    }

private:
    std::vector<TrendPoint>& out_;
    std::int64_t t0_;
    double width_;
    std::int64_t col_ = 0;
    std::size_t n_ = 0;
    TrendPoint lo_{}, hi_{};
    std::optional<std::int64_t> last_;
};

} // namespace

void TrendStore::add(std::int64_t t, const TrendValues& values) {
    push({std::max(t, newest()), values, false});
}

void TrendStore::addGap(std::int64_t t) {
    push({std::max(t, newest()), {kNaN, kNaN, kNaN, kNaN}, true});
}

void TrendStore::clear() {
    fine_.clear();
    coarse_.clear();
}

std::int64_t TrendStore::newest() const {
    if (!fine_.empty()) return fine_.back().t;
    return coarse_.empty() ? std::numeric_limits<std::int64_t>::min()
                           : coarse_.back().t + limits_.bucketMs - 1;
}

std::int64_t TrendStore::oldest() const {
    if (!coarse_.empty()) return coarse_.front().t;
    return fine_.empty() ? std::numeric_limits<std::int64_t>::min() : fine_.front().t;
}

void TrendStore::push(const Sample& s) {
    fine_.push_back(s);
    while (fine_.size() > limits_.fineCap || fine_.back().t - fine_.front().t > limits_.fineMs) {
        fold(fine_.front());
        fine_.pop_front();
    }
    while (!coarse_.empty() && s.t - coarse_.front().t > limits_.historyMs)
        coarse_.pop_front();
}

void TrendStore::fold(const Sample& s) {
    const std::int64_t start = floorTo(s.t, limits_.bucketMs);
    if (coarse_.empty() || coarse_.back().t != start) {
        Bucket b;
        b.t = start;
        coarse_.push_back(b);
    }
    Bucket& b = coarse_.back();
    if (s.gap) {
        b.gap = true;
        return;
    }
    for (std::size_t c = 0; c < kTrendChannels; ++c) {
        b.lo[c] = b.any ? std::min(b.lo[c], s.v[c]) : s.v[c];
        b.hi[c] = b.any ? std::max(b.hi[c], s.v[c]) : s.v[c];
    }
    b.last = s.v;
    b.any = true;
}

std::vector<TrendPoint> TrendStore::points(TrendChannel channel, std::int64_t t0, std::int64_t t1,
                                           int columns) const {
    std::vector<TrendPoint> out;
    if (t1 <= t0) return out;
    const auto c = static_cast<std::size_t>(channel);
    Columns cols(out, t0, t1, columns);
    const std::int64_t fineStart = fine_.empty() ? std::numeric_limits<std::int64_t>::max() : fine_.front().t;

    // The folded hour, each bucket as its lowest and highest value; one bucket either side of the range
    // so the line runs to the edges.
    const std::int64_t w = limits_.bucketMs;
    auto b = std::lower_bound(coarse_.begin(), coarse_.end(), t0 - w,
                              [](const Bucket& k, std::int64_t t) { return k.t < t; });
    for (; b != coarse_.end() && b->t <= t1 + w && b->t < fineStart; ++b) {
        if (b->any) {
            cols.take(b->t + w / 4, b->lo[c]);
            cols.take(b->t + 3 * w / 4, b->hi[c]);
        }
        if (b->gap || !b->any) cols.brk(b->t + w - 1);
    }

    // Every reply since, from the one before the range to the one after it.
    auto it = std::lower_bound(fine_.begin(), fine_.end(), t0,
                               [](const Sample& s, std::int64_t t) { return s.t < t; });
    if (it != fine_.begin()) --it;
    for (; it != fine_.end(); ++it) {
        if (it->gap)
            cols.brk(it->t);
        else
            cols.take(it->t, it->v[c]);
        if (it->t > t1) break;
    }
    cols.flush();
    return out;
}

std::optional<TrendValues> TrendStore::at(std::int64_t t, std::int64_t reach) const {
    if (!fine_.empty() && t >= fine_.front().t - reach) {
        auto it = std::lower_bound(fine_.begin(), fine_.end(), t,
                                   [](const Sample& s, std::int64_t x) { return s.t < x; });
        const Sample* best = nullptr;
        if (it != fine_.end()) best = &*it;
        if (it != fine_.begin() && (!best || t - std::prev(it)->t < best->t - t)) best = &*std::prev(it);
        if (!best || best->gap || std::llabs(best->t - t) > reach) return std::nullopt;
        return best->v;
    }
    auto b = std::upper_bound(coarse_.begin(), coarse_.end(), t,
                              [](std::int64_t x, const Bucket& k) { return x < k.t; });
    if (b == coarse_.begin()) return std::nullopt;
    --b;
    if (t >= b->t + limits_.bucketMs || !b->any) return std::nullopt;
    return b->last;
}

std::vector<std::pair<std::int64_t, TrendValues>> TrendStore::samples(std::int64_t t0,
                                                                      std::int64_t t1) const {
    std::vector<std::pair<std::int64_t, TrendValues>> out;
    const std::int64_t fineStart = fine_.empty() ? std::numeric_limits<std::int64_t>::max() : fine_.front().t;
    for (const Bucket& b : coarse_)
        if (b.any && b.t >= t0 && b.t <= t1 && b.t < fineStart) out.emplace_back(b.t, b.last);
    auto it = std::lower_bound(fine_.begin(), fine_.end(), t0,
                               [](const Sample& s, std::int64_t t) { return s.t < t; });
    for (; it != fine_.end() && it->t <= t1; ++it)
        if (!it->gap) out.emplace_back(it->t, it->v);
    return out;
}

// ---- viewport

std::pair<std::int64_t, std::int64_t> TrendViewport::range(std::int64_t newest) const {
    const std::int64_t end = live_ ? newest : end_;
    return {end - span_, end};
}

void TrendViewport::setSpanMinutes(int minutes) {
    if (std::find(kSpanMinutes.begin(), kSpanMinutes.end(), minutes) == kSpanMinutes.end()) return;
    span_ = std::int64_t{minutes} * 60 * 1000;
}

void TrendViewport::hold(std::int64_t newest) {
    if (!live_) return;
    end_ = newest;
    live_ = false;
}

void TrendViewport::zoom(double factor, std::int64_t at, std::int64_t newest) {
    if (!(factor > 0)) return;
    const auto [a, b] = range(newest);
    const auto span = std::clamp(static_cast<std::int64_t>(std::llround(static_cast<double>(span_) * factor)),
                                 kMinSpanMs, kMaxSpanMs);
    if (!live_) {
        // The time under the mouse stays under the mouse.
        const double share = std::clamp(static_cast<double>(at - a) / static_cast<double>(b - a), 0.0, 1.0);
        end_ = at - static_cast<std::int64_t>(std::llround(share * static_cast<double>(span))) + span;
    }
    span_ = span;
}

void TrendViewport::pan(std::int64_t byMs, std::int64_t newest) {
    hold(newest);
    end_ = std::min(end_ + byMs, newest);
}

} // namespace vx::app::tools
