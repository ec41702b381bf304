#pragma once
// The trend's data: every reply of the last hour as it came, older ones folded into five-second
// buckets (lowest, highest and last value) for a day, so a day-long run stays within a few megabytes.
// A reply that did not come is stored as a gap, and two replies further apart than kMaxStepMs are
// never joined either. Also the viewport (span, live or held, zoom and pan). Pure: no Qt, no clock.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace vx::app::tools {

enum class TrendChannel : std::uint8_t { Input, Output, Converter0, Converter1 };
inline constexpr std::size_t kTrendChannels = 4;
using TrendValues = std::array<float, kTrendChannels>;

struct TrendPoint {
    std::int64_t t;
    double v; // NaN: the line breaks here
};

class TrendStore {
public:
    struct Limits {
        std::int64_t fineMs = 60 * 60 * 1000;         // every reply kept this long
        std::size_t fineCap = 100'000;                // and no more of them than this
        std::int64_t bucketMs = 5000;                 // older ones folded into buckets this wide
        std::int64_t historyMs = 24 * 60 * 60 * 1000; // buckets kept this long
    };
    static constexpr std::int64_t kMaxStepMs = 5000;

    TrendStore() : TrendStore(Limits{}) {}
    explicit TrendStore(Limits limits) : limits_(limits) {}

    // Times in ms since the epoch; a time before the newest is taken as the newest (a clock set back
    // must not scramble the order).
    void add(std::int64_t t, const TrendValues& values);
    void addGap(std::int64_t t);
    void clear();

    bool empty() const { return fine_.empty() && coarse_.empty(); }
    std::int64_t newest() const;
    std::int64_t oldest() const;
    std::size_t fineCount() const { return fine_.size(); }
    std::size_t bucketCount() const { return coarse_.size(); }

    // What to draw of one channel over [t0, t1] on `columns` pixel columns: at most the lowest and the
    // highest value per column (in their order), a NaN point wherever the line must break.
    std::vector<TrendPoint> points(TrendChannel c, std::int64_t t0, std::int64_t t1, int columns) const;
    // The values at time t for a cursor: the nearest reply within `reach` ms, none in a gap.
    std::optional<TrendValues> at(std::int64_t t, std::int64_t reach) const;
    // The replies in [t0, t1] in their order (a folded bucket as its last reply), gaps left out: what an
    // export of that range writes.
    std::vector<std::pair<std::int64_t, TrendValues>> samples(std::int64_t t0, std::int64_t t1) const;

private:
    struct Sample {
        std::int64_t t;
        TrendValues v;
        bool gap;
    };
    struct Bucket {
        std::int64_t t; // start
        TrendValues lo, hi, last;
        bool any = false; // holds at least one value
        bool gap = false; // a reply was missing inside
    };
    void push(const Sample& s);
    void fold(const Sample& s);

    Limits limits_;
    std::deque<Sample> fine_;
    std::deque<Bucket> coarse_;
};

// What the trend shows: a span ending either at the newest reply (live) or where the engineer left it.
class TrendViewport {
public:
    static constexpr std::array<int, 4> kSpanMinutes{1, 5, 15, 60};
    static constexpr std::int64_t kMinSpanMs = 5000;
    static constexpr std::int64_t kMaxSpanMs = 24 * 60 * 60 * 1000;

    std::int64_t span() const { return span_; }
    bool live() const { return live_; }
    // The shown range [first, second] with the newest reply at `newest`.
    std::pair<std::int64_t, std::int64_t> range(std::int64_t newest) const;

    void setSpanMinutes(int minutes);                               // one of kSpanMinutes; others ignored
    void hold(std::int64_t newest);                                 // pause: the range stays where it is
    void resume() { live_ = true; }                                 // follow the newest reply again
    void zoom(double factor, std::int64_t at, std::int64_t newest); // factor < 1 zooms in, about `at`
    void pan(std::int64_t byMs, std::int64_t newest);               // holds, then moves (positive: later)

private:
    std::int64_t span_ = 5 * 60 * 1000;
    bool live_ = true;
    std::int64_t end_ = 0; // while held
};

} // namespace vx::app::tools
