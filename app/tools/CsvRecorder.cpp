#include "app/tools/CsvRecorder.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace vx::app::tools {

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string csvNumber(double value) {
    if (!std::isfinite(value)) return {};
    const auto single = static_cast<float>(value);
    if (!std::isfinite(single)) return {};
    char buf[32];
    // to_chars never looks at the C library's locale, so a Hungarian desktop still gets a full stop.
    const auto r = std::to_chars(buf, buf + sizeof buf, single);
    return std::string(buf, r.ptr);
}

std::string isoLocalTime(std::int64_t ms) {
    const std::int64_t seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    const auto millis = static_cast<int>(ms - seconds * 1000);
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return {};
    const long offset = tm.tm_gmtoff / 60;
    const long a = offset < 0 ? -offset : offset;
    char buf[64];
    // Integers only: printf's integer conversions do not depend on the locale.
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis, offset < 0 ? '-' : '+',
                  a / 60, a % 60);
    return buf;
}

std::string csvHeader() {
    return "time,input_value,input_unit,output_value,output_unit,input_range,status,temperature_C,"
           "adc0_raw,adc0_filtered,adc1_raw,adc1_filtered,event\r\n";
}

std::string csvRow(std::int64_t ms, const Measurement& m) {
    std::string row = isoLocalTime(ms);
    const auto add = [&row](const std::string& field) {
        row += ',';
        row += field;
    };
    add(csvNumber(m.input));
    add(csvField(m.inputUnit));
    add(csvNumber(m.output));
    add(csvField(m.outputUnit));
    add(csvField(m.inputRange));
    add(csvField(m.statusText));
    add(m.temperature ? csvNumber(*m.temperature) : std::string());
    for (std::int32_t v : {m.adRaw0, m.adFiltered0, m.adRaw1, m.adFiltered1})
        add(std::to_string(v));
    row += ",\r\n"; // no event
    return row;
}

std::string csvEventRow(std::int64_t ms, std::string_view event) {
    // The time, every measured field empty, the event last.
    return isoLocalTime(ms) + std::string(12, ',') + csvField(event) + "\r\n";
}

CsvRecorder::~CsvRecorder() {
    stop();
}

bool CsvRecorder::start(const std::string& path) {
    stop();
    error_.clear();
    path_ = path;
    rows_ = 0;
    pending_.clear();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    pending_ = csvHeader();
    if (!writeOut()) return false;
    quit_ = false;
    syncError_ = 0;
    dirty_ = true;
    syncer_ = std::thread([this] { syncLoop(); });
    return true;
}

void CsvRecorder::append(std::int64_t timeMs, const Measurement& m, std::int64_t nowMs) {
    if (fd_ < 0) return;
    if (pending_.empty()) pendingSince_ = nowMs;
    pending_ += csvRow(timeMs, m);
    ++rows_;
    tick(nowMs);
}

void CsvRecorder::appendEvent(std::int64_t timeMs, std::string_view event, std::int64_t nowMs) {
    if (fd_ < 0) return;
    if (pending_.empty()) pendingSince_ = nowMs;
    pending_ += csvEventRow(timeMs, event);
    tick(nowMs);
}

void CsvRecorder::tick(std::int64_t nowMs) {
    if (fd_ < 0) return;
    if (const int e = syncError_.load()) return fail(e);
    if (!pending_.empty() && (nowMs - pendingSince_ >= kFlushAfterMs || pending_.size() >= kFlushAfterBytes))
        writeOut();
}

void CsvRecorder::stop() {
    if (fd_ < 0) return;
    writeOut();
    if (fd_ < 0) return; // the last write failed and closed it
    stopSyncer();
    // The last rows go to the device before the file is called done.
    if (::fdatasync(fd_) != 0 && errno != EINVAL && error_.empty()) error_ = std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
}

bool CsvRecorder::writeOut() {
    std::size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // What went out stays in the file; the rest is dropped with the recording.
            fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    pending_.clear();
    dirty_ = true;
    return true;
}

void CsvRecorder::fail(int error) {
    error_ = std::strerror(error);
    pending_.clear();
    stopSyncer();
    ::close(fd_);
    fd_ = -1;
}

void CsvRecorder::syncLoop() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        wake_.wait_for(lock, std::chrono::seconds(1), [this] { return quit_; });
        if (quit_ || !dirty_.exchange(false)) continue;
        lock.unlock();
        // EINVAL: a device or pipe that has nothing to sync.
        if (::fdatasync(fd_) != 0 && errno != EINVAL && errno != EINTR) syncError_ = errno;
        lock.lock();
    }
}

void CsvRecorder::stopSyncer() {
    if (!syncer_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    syncer_.join();
}

} // namespace vx::app::tools
