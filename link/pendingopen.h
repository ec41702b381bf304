#pragma once
// Opening a port off the window's thread. A connect to an address that never answers waits for its
// whole bound, and a name to resolve may wait as long: the holder starts the open here, watches
// readyFd() and takes the outcome when it is readable. Cancelling wakes the open at once; whatever it
// still opens afterwards is closed by the worker, never handed over.
#include "link/portopen.h"

#include <memory>
#include <string>

namespace mb::port {

class PendingOpen {
public:
    PendingOpen(std::string name, const LineSettings& line, OpenOptions options);
    // Cancels; the worker ends on its own and drops what it opened.
    ~PendingOpen();
    PendingOpen(const PendingOpen&) = delete;
    PendingOpen& operator=(const PendingOpen&) = delete;

    // Readable once the outcome is there (for a socket notifier).
    int readyFd() const;
    bool done() const;
    // Blocks until the outcome is there (a front end without a window may).
    void wait() const;
    // The channel opened, or null with err filled (ECANCELED after cancel()). Once, after done().
    std::unique_ptr<FdChannel> take(OpenError* err);
    void cancel();

private:
    struct Job;
    std::shared_ptr<Job> job_;
};

} // namespace mb::port
