#pragma once
// Watching for ports that come and go, without polling: an inotify watch on /dev (device nodes made
// and removed, permissions set by udev), /dev/serial/by-id (adapter names), the folders of the
// MB_EXTRA_PORTS paths and the device nodes they lead to (pseudo-terminals under /dev/pts). The kernel
// wakes the GUI thread only when something there changes.
#include <QObject>

#include <map>
#include <set>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace mb::port {

struct WatchDir {
    std::string dir;             // a folder, or with `node` one device node
    std::set<std::string> names; // the folder's entries that matter; empty: every entry
    bool node = false;
};

// What to watch for these extra paths, besides the device folders under `devRoot`: their folders for
// their names, and the device nodes they lead to while those are there. A terminal listed directly
// under devRoot/pts is watched by its node only: terminals come and go there all day, and a number
// that appears again is another terminal.
std::vector<WatchDir> portWatchDirs(const std::vector<std::string>& extraPaths,
                                    const std::string& devRoot = "/dev");

} // namespace mb::port

class TPortWatch : public QObject {
    Q_OBJECT
public:
    // useInotify false: as on a system without it (for tests of the fallback).
    explicit TPortWatch(QObject* parent = nullptr, bool useInotify = true);
    ~TPortWatch() override;

    static constexpr int kFallbackPollMs = 2000;

    // Watches these folders from now on (those that exist). False when the system offers no watch.
    // pollWhenBlind: without inotify, or when a watch cannot be set (too many watches), changed() is
    // raised every kFallbackPollMs instead, so a lost port is still found when it comes back.
    bool watch(const std::vector<mb::port::WatchDir>& dirs, bool pollWhenBlind = false);
    bool active() const { return fd_ >= 0 && !watches_.empty(); }
    bool polling() const;

signals:
    // Once per burst of changes: udev makes a node, sets its permissions and adds its links within a
    // few milliseconds of each other.
    void changed();

private:
    void readEvents();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* settle_ = nullptr;
    QTimer* poll_ = nullptr;
    std::map<int, std::set<std::string>> watches_; // watch descriptor -> names that matter
    std::set<int> everyName_;                      // watch descriptors where every entry matters
};
