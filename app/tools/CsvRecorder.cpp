#include "app/tools/CsvRecorder.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

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

struct CsvRecorder::Syncer {
    int fd = -1;
    std::function<int(int)> sync;
    std::mutex mutex;
    std::condition_variable wake;
    bool quit = false;             // under mutex
    bool syncLast = false;         // under mutex: put the file on its device before closing it
    bool closed = false;           // under mutex: the file is closed and the thread is done
    int closeError = 0;            // under mutex
    std::atomic<bool> dirty{true}; // written since the last sync
    std::atomic<int> error{0};     // errno of a failed sync
};

void CsvRecorder::syncLoop(const std::shared_ptr<Syncer>& s) {
    std::unique_lock lock(s->mutex);
    while (!s->quit) {
        s->wake.wait_for(lock, std::chrono::seconds(1), [&s] { return s->quit; });
        if (s->quit || !s->dirty.exchange(false)) continue;
        lock.unlock();
        // EINVAL: a file system that has nothing to sync.
        if (s->sync(s->fd) != 0 && errno != EINVAL && errno != EINTR) s->error = errno;
        lock.lock();
    }
    const bool last = s->syncLast;
    lock.unlock();
    // The last rows go to the device before the file is called done; here, where a device that does
    // not answer holds up nobody.
    int error = 0;
    if (last && s->sync(s->fd) != 0 && errno != EINVAL) error = errno;
    if (::close(s->fd) != 0 && errno != EINTR && error == 0) error = errno;
    lock.lock();
    s->closeError = error;
    s->closed = true;
    s->wake.notify_all();
}

CsvRecorder::CsvRecorder(int stopBudgetMs, std::function<int(int)> sync)
    : stopBudgetMs_(stopBudgetMs), sync_(sync ? std::move(sync) : std::function<int(int)>(::fdatasync)) {}

CsvRecorder::~CsvRecorder() {
    stop();
}

bool CsvRecorder::start(const std::string& path, bool overwrite) {
    stop();
    error_.clear();
    path_ = path;
    rows_ = 0;
    committed_ = 0;
    pending_.clear();
    rowEnds_.clear();
    // Opened without waiting, so a FIFO without a reader cannot hold up the window; then refused.
    const int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (overwrite ? 0 : O_EXCL);
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular || ::fcntl(fd, F_SETFL, 0) != 0 || (overwrite && ::ftruncate(fd, 0) != 0)) {
        error_ = regular ? std::strerror(errno) : "not a regular file";
        ::close(fd);
        return false;
    }
    fd_ = fd;
    pending_ = csvHeader();
    rowEnds_.push_back(pending_.size());
    syncer_ = std::make_shared<Syncer>();
    syncer_->fd = fd_;
    syncer_->sync = sync_;
    thread_ = std::thread([s = syncer_] { syncLoop(s); });
    return writeOut();
}

void CsvRecorder::append(std::int64_t timeMs, const Measurement& m, std::int64_t nowMs) {
    if (fd_ < 0) return;
    if (pending_.empty()) pendingSince_ = nowMs;
    pending_ += csvRow(timeMs, m);
    rowEnds_.push_back(pending_.size());
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
    if (const int e = syncer_->error.load()) return fail(e);
    if (!pending_.empty() && (nowMs - pendingSince_ >= kFlushAfterMs || pending_.size() >= kFlushAfterBytes))
        writeOut();
}

void CsvRecorder::stop() {
    if (fd_ < 0) return;
    if (writeOut()) finish(true);
}

bool CsvRecorder::writeOut() {
    std::size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            // A row cut in the middle is no row: the file ends at the last whole one.
            std::size_t whole = 0;
            for (const std::size_t end : rowEnds_)
                if (end <= done) whole = end;
            [[maybe_unused]] const int r = ::ftruncate(fd_, static_cast<off_t>(committed_ + whole));
            fail(error);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    committed_ += pending_.size();
    pending_.clear();
    rowEnds_.clear();
    syncer_->dirty = true;
    return true;
}

void CsvRecorder::fail(int error) {
    error_ = std::strerror(error);
    pending_.clear();
    rowEnds_.clear();
    finish(false);
}

void CsvRecorder::finish(bool syncLast) {
    const std::shared_ptr<Syncer> s = std::move(syncer_);
    fd_ = -1; // the thread closes it
    std::unique_lock lock(s->mutex);
    s->quit = true;
    s->syncLast = syncLast;
    s->wake.notify_all();
    const bool closed =
        s->wake.wait_for(lock, std::chrono::milliseconds(stopBudgetMs_), [&s] { return s->closed; });
    const int closeError = s->closeError;
    lock.unlock();
    if (closed) {
        thread_.join();
        if (closeError != 0 && error_.empty()) error_ = std::strerror(closeError);
    } else {
        // The device does not answer (a dead network mount): the thread finishes when it does.
        thread_.detach();
        if (error_.empty()) error_ = "the file's device did not answer; the last rows may be missing";
    }
}

} // namespace vx::app::tools
