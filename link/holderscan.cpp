#include "link/holderscan.h"

#include "link/portdiscovery.h"

#include <QThread>
#include <utility>

THolderScan::~THolderScan() {
    if (thread_) thread_->wait();
    delete thread_;
}

bool THolderScan::busy() const {
    return thread_ && thread_->isRunning();
}

void THolderScan::start(std::vector<std::string> paths) {
    const unsigned generation = ++generation_;
    // A previous scan is long done by the next rebuild, as a rule; its result is superseded anyway.
    if (thread_) thread_->wait();
    delete std::exchange(thread_, nullptr);
    if (paths.empty()) return;
    thread_ = QThread::create([this, generation, paths = std::move(paths)] {
        std::map<std::string, std::string> holders = mb::port::portHoldersOf(paths);
        // Delivered through the event loop; dropped with this object if it goes first (it waits for
        // the thread, so `this` outlives the call).
        QMetaObject::invokeMethod(
            this,
            [this, generation, holders = std::move(holders)] {
                if (generation == generation_ && onFound) onFound(holders);
            },
            Qt::QueuedConnection);
    });
    thread_->start();
}
