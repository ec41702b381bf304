#include "link/bytechannel.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mb::port {

namespace {
// A device that takes nothing for this long a backlog is not coming back; refuse more rather than grow.
constexpr std::size_t kMaxPending = 1 << 20;
} // namespace

void FdChannel::adopt(int fd) {
    close();
    fd_ = fd;
    broken_ = false;
}

ReadResult FdChannel::read(std::span<std::uint8_t> buf) {
    ReadResult r;
    if (fd_ < 0) {
        r.lost = true;
        r.error = EBADF;
        return r;
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buf.data(), buf.size());
        if (n > 0) {
            r.count = static_cast<std::size_t>(n);
        } else if (n == 0) {
            // End of file: a hung-up tty or a closed peer never delivers again.
            r.lost = !buf.empty();
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            r.lost = true;
            r.error = errno;
        }
        return r;
    }
}

bool FdChannel::write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0 || broken_) return false;
    // New bytes go behind those still waiting, so the order on the line is kept.
    if (pending_.size() + bytes.size() > kMaxPending) return false;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    flush();
    return !broken_;
}

void FdChannel::flush() {
    std::size_t done = 0;
    while (fd_ >= 0 && !broken_ && done < pending_.size()) {
        const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            broken_ = true;
            pending_.clear();
            return;
        }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
}

void FdChannel::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pending_.clear();
}

bool makeSocketPair(FdChannel& a, FdChannel& b) {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0) return false;
    a.adopt(sv[0]);
    b.adopt(sv[1]);
    return true;
}

} // namespace mb::port
