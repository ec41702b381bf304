#pragma once
// Recording the measured values to a CSV file (RFC 4180: a header row, CRLF line ends, fields quoted
// where they must be). Numbers always use a full stop, whatever the desktop's locale; times are local
// ISO 8601 with milliseconds and the offset from UTC. Rows are collected in memory and written when the
// oldest of them is kFlushAfterMs old (on a row or a tick), and a thread of its own asks the system to
// put them on the device every second, so a slow USB stick never holds up the caller. A write or sync
// that fails (full disk, stick pulled) ends the recording; what was written stays in the file.
#include "app/tools/Measurement.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace vx::app::tools {

// One field as RFC 4180 wants it: quoted (inner quotes doubled) when it holds a comma, a quote or a
// line break; as it is otherwise.
std::string csvField(std::string_view text);
// A real as the single the instrument sent, in its shortest exact form with a full stop; empty for
// a value that is not a number or infinite.
std::string csvNumber(double value);
// "2026-03-05T14:03:07.123+01:00": local time with milliseconds and the offset that applied then.
std::string isoLocalTime(std::int64_t msSinceEpoch);

std::string csvHeader(); // with its CRLF
std::string csvRow(std::int64_t msSinceEpoch, const Measurement& m);
// A row that says what happened to the link (the last column) with every measured field empty.
std::string csvEventRow(std::int64_t msSinceEpoch, std::string_view event);

class CsvRecorder {
public:
    static constexpr std::int64_t kFlushAfterMs = 500;
    static constexpr std::size_t kFlushAfterBytes = 64 * 1024;

    CsvRecorder() = default;
    CsvRecorder(const CsvRecorder&) = delete;
    CsvRecorder& operator=(const CsvRecorder&) = delete;
    ~CsvRecorder(); // stops as stop() does

    // Creates (or empties) the file and writes the header at once, so a place that takes nothing is
    // known now. False with error() set when it cannot; a recording under way is stopped first.
    bool start(const std::string& path);
    // One row; written now if the oldest waiting row is due (times in ms, any steady clock).
    void append(std::int64_t timeMs, const Measurement& m, std::int64_t nowMs);
    // An event row (not counted in rows()), written as append() writes.
    void appendEvent(std::int64_t timeMs, std::string_view event, std::int64_t nowMs);
    // Writes waiting rows that are due, and notices a failed sync.
    void tick(std::int64_t nowMs);
    // Writes what waits and closes. Nothing happens when not recording.
    void stop();

    bool recording() const { return fd_ >= 0; }
    // Why the last start failed or the recording ended by itself; empty otherwise.
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }
    std::uint64_t rows() const { return rows_; }
    std::size_t waitingBytes() const { return pending_.size(); }

private:
    bool writeOut();
    void fail(int error);
    void syncLoop();
    void stopSyncer();

    int fd_ = -1;
    std::string path_;
    std::string pending_;
    std::int64_t pendingSince_ = 0;
    std::string error_;
    std::uint64_t rows_ = 0;

    std::thread syncer_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool quit_ = false;              // under mutex_
    std::atomic<bool> dirty_{false}; // written since the last sync
    std::atomic<int> syncError_{0};  // errno of a failed sync
};

} // namespace vx::app::tools
