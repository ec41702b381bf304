#include "link/portwatch.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <filesystem>
#include <sys/inotify.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace mb::port {

std::vector<WatchDir> portWatchDirs(const std::vector<std::string>& extraPaths, const std::string& devRoot) {
    std::map<std::string, std::set<std::string>> names;
    std::set<std::string> every, nodes;
    auto add = [&](const fs::path& dir, const std::string& name) {
        const std::string d = dir.empty() ? std::string(".") : dir.lexically_normal().string();
        if (name.empty())
            every.insert(d);
        else
            names[d].insert(name);
    };
    // Nodes come and go in /dev; /dev/serial and its by-id folder exist only while an adapter does.
    add(devRoot, {});
    add(fs::path(devRoot) / "serial", "by-id");
    add(fs::path(devRoot) / "serial" / "by-id", {});
    const fs::path terminals = (fs::path(devRoot) / "pts").lexically_normal();
    for (const std::string& extra : extraPaths) {
        const fs::path p = fs::path(extra).lexically_normal();
        if (!p.has_filename()) continue;
        // Where a link (the simulator's --link) leads: its going is seen on the node itself.
        std::error_code ec;
        fs::path node = p;
        if (fs::is_symlink(p, ec)) {
            node = fs::read_symlink(p, ec);
            if (node.is_relative()) node = p.parent_path() / node;
            node = node.lexically_normal();
        }
        const bool there = !ec && fs::exists(node, ec) && !fs::is_directory(node, ec);
        if (there) nodes.insert(node.string());
        // A terminal number that shows up in /dev/pts belongs to whatever terminal was opened next.
        if (p.parent_path() != terminals) add(p.parent_path(), p.filename().string());
    }
    std::vector<WatchDir> out;
    for (const std::string& d : every)
        out.push_back({d, {}, false});
    for (auto& [d, n] : names)
        if (!every.count(d)) out.push_back({d, std::move(n), false});
    for (const std::string& n : nodes)
        out.push_back({n, {}, true});
    return out;
}

} // namespace mb::port

namespace {
constexpr int kSettleMs = 40;
constexpr std::uint32_t kNodeMask = IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t kDirMask =
    kNodeMask | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;
} // namespace

TPortWatch::TPortWatch(QObject* parent, bool useInotify) : QObject(parent) {
    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    connect(settle_, &QTimer::timeout, this, &TPortWatch::changed);
    poll_ = new QTimer(this);
    poll_->setInterval(kFallbackPollMs);
    connect(poll_, &QTimer::timeout, this, &TPortWatch::changed);
    fd_ = useInotify ? ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC) : -1;
    if (fd_ < 0) return; // no watch: the Refresh button still rebuilds the list
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TPortWatch::readEvents);
}

TPortWatch::~TPortWatch() {
    delete notifier_;
    if (fd_ >= 0) ::close(fd_);
}

bool TPortWatch::polling() const {
    return poll_->isActive();
}

bool TPortWatch::watch(const std::vector<mb::port::WatchDir>& dirs, bool pollWhenBlind) {
    // A slow poll stands in for watches the system does not give.
    const auto fallBack = [this, pollWhenBlind](bool blind) {
        if (pollWhenBlind && blind) {
            if (!poll_->isActive()) poll_->start();
        } else {
            poll_->stop();
        }
    };
    if (fd_ < 0) {
        fallBack(true);
        return false;
    }
    std::map<int, std::set<std::string>> next;
    std::set<int> every;
    bool blind = false;
    for (const mb::port::WatchDir& d : dirs) {
        // Two paths of one folder give one descriptor: their names add up.
        const int wd = ::inotify_add_watch(fd_, d.dir.c_str(), d.node ? kNodeMask : kDirMask);
        // A folder that is not there is nothing to watch; any other refusal leaves us blind there.
        if (wd < 0) blind = blind || (errno != ENOENT && errno != ENOTDIR);
        if (wd < 0) continue;
        if (d.names.empty()) every.insert(wd);
        next[wd].insert(d.names.begin(), d.names.end());
    }
    for (const auto& [wd, names] : watches_)
        if (!next.count(wd)) ::inotify_rm_watch(fd_, wd);
    watches_ = std::move(next);
    everyName_ = std::move(every);
    fallBack(blind);
    return true;
}

void TPortWatch::readEvents() {
    alignas(inotify_event) char buf[8192];
    bool relevant = false;
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            if (ev->mask & IN_Q_OVERFLOW) {
                relevant = true; // events were dropped: look again
                continue;
            }
            const auto w = watches_.find(ev->wd);
            if (w == watches_.end()) continue;
            if (ev->mask & IN_IGNORED) {
                // The folder itself went (the last adapter's by-id folder): rebuilding re-arms it later.
                watches_.erase(w);
                everyName_.erase(ev->wd);
                relevant = true;
                continue;
            }
            const std::string name = ev->len ? std::string(ev->name) : std::string();
            if (name.empty() || everyName_.count(ev->wd) || w->second.count(name)) relevant = true;
        }
    }
    // Not restarted by later events: a stream of changes cannot hold the list back.
    if (relevant && !settle_->isActive()) settle_->start(kSettleMs);
}
