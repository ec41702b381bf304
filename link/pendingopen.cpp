#include "link/pendingopen.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace mb::port {

// Shared by the holder and the worker: whichever lets go last closes the descriptors, so the holder
// may go away while the worker still waits on a connect.
struct PendingOpen::Job {
    int readyFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int cancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    mutable std::mutex mutex;
    mutable std::condition_variable finished;
    bool done = false;
    std::unique_ptr<FdChannel> channel;
    OpenError err;

    ~Job() {
        if (readyFd >= 0) ::close(readyFd);
        if (cancelFd >= 0) ::close(cancelFd);
    }
    static void signal(int fd) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    }
};

PendingOpen::PendingOpen(std::string name, const LineSettings& line, OpenOptions options)
    : job_(std::make_shared<Job>()) {
    options.cancelFd = job_->cancelFd;
    std::thread([job = job_, name = std::move(name), line, options = std::move(options)] {
        OpenError err;
        std::unique_ptr<FdChannel> channel = openChannel(name, line, options, &err);
        std::lock_guard lock(job->mutex);
        job->channel = std::move(channel);
        job->err = std::move(err);
        job->done = true;
        job->finished.notify_all();
        Job::signal(job->readyFd);
    }).detach();
}

PendingOpen::~PendingOpen() {
    cancel();
}

int PendingOpen::readyFd() const {
    return job_->readyFd;
}

bool PendingOpen::done() const {
    std::lock_guard lock(job_->mutex);
    return job_->done;
}

void PendingOpen::wait() const {
    std::unique_lock lock(job_->mutex);
    job_->finished.wait(lock, [this] { return job_->done; });
}

std::unique_ptr<FdChannel> PendingOpen::take(OpenError* err) {
    std::lock_guard lock(job_->mutex);
    if (err) *err = job_->err;
    return std::move(job_->channel);
}

void PendingOpen::cancel() {
    Job::signal(job_->cancelFd);
}

} // namespace mb::port
