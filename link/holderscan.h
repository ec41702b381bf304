#pragma once
// The scan of /proc for the programs holding busy ports, run off the window's thread: it reads every
// process's open files, which takes far longer than the rest of a port-list rebuild.
#include <QObject>

class QThread;

#include <functional>
#include <map>
#include <string>
#include <vector>

class THolderScan : public QObject {
public:
    explicit THolderScan(QObject* parent = nullptr) : QObject(parent) {}
    ~THolderScan() override; // waits for a scan under way

    // Scans once for all these paths; onFound gets the result on this object's thread, unless a later
    // start superseded it. Nothing happens for no paths.
    void start(std::vector<std::string> paths);
    bool busy() const;
    // path -> "program (pid N), ..." for the paths that are held.
    std::function<void(const std::map<std::string, std::string>&)> onFound;

private:
    QThread* thread_ = nullptr;
    unsigned generation_ = 0;
};
