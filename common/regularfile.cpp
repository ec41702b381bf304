#include "common/regularfile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vx {

RegularFileRead readRegularFile(const std::string& path, std::size_t limit) {
    RegularFileRead out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        out.error = errno;
        return out;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        out.error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        out.result = RegularFileRead::Result::NotRegular;
    } else {
        out.result = RegularFileRead::Result::Ok;
        char chunk[16384];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                out.result = RegularFileRead::Result::Failed;
                out.error = errno;
                break;
            }
            if (n == 0) break;
            // One byte beyond the limit is enough to know; the rest is never read.
            if (out.data.size() + static_cast<std::size_t>(n) > limit) {
                out.result = RegularFileRead::Result::TooLarge;
                break;
            }
            out.data.append(chunk, static_cast<std::size_t>(n));
        }
        if (out.result != RegularFileRead::Result::Ok) out.data.clear();
    }
    ::close(fd);
    return out;
}

} // namespace vx
