#include "link/portdiscovery.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace mb::port {

namespace {

// The entries of a folder; none when it cannot be read (a process that ended, another user's).
std::vector<fs::path> entriesOf(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec))
        out.push_back(it->path());
    return out;
}

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string hex4(std::uint16_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", v);
    return buf;
}

} // namespace

std::vector<std::string> extraPorts() {
    std::vector<std::string> out;
    const char* extra = std::getenv("MB_EXTRA_PORTS");
    if (!extra) return out;
    const std::string s(extra);
    std::size_t start = 0;
    while (start <= s.size()) {
        const std::size_t end = std::min(s.find(':', start), s.size());
        std::string p = s.substr(start, end - start);
        if (!p.empty() && std::find(out.begin(), out.end(), p) == out.end()) out.push_back(std::move(p));
        start = end + 1;
    }
    return out;
}

std::string canonicalPath(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::canonical(path, ec);
    return ec ? std::string() : p.string();
}

std::map<std::string, std::string> byIdLinks(const std::string& byIdDir) {
    std::vector<fs::path> links = entriesOf(byIdDir);
    std::sort(links.begin(), links.end());
    std::map<std::string, std::string> out;
    for (const fs::path& link : links) {
        const std::string device = canonicalPath(link.string());
        if (!device.empty()) out.emplace(device, link.string());
    }
    return out;
}

std::vector<PortInfo> candidatePorts() {
    const auto links = byIdLinks("/dev/serial/by-id");
    const auto sockets = byIdLinks("/dev/serial/by-path");
    auto byPath = [&sockets](const std::string& canonical) {
        const auto it = sockets.find(canonical);
        return it == sockets.end() ? std::string() : it->second;
    };
    auto byId = [&links](const std::string& canonical) {
        const auto it = links.find(canonical);
        return it == links.end() ? std::string() : it->second;
    };
    std::vector<PortInfo> out;
    std::vector<std::string> canonicals; // of the entries of `out`, for the extra paths' details
    auto has = [&out](const std::string& p) {
        return std::any_of(out.begin(), out.end(), [&p](const PortInfo& i) { return i.path == p; });
    };
    for (const QSerialPortInfo& q : QSerialPortInfo::availablePorts()) {
        PortInfo info;
        info.path = q.systemLocation().toStdString();
        if (info.path.empty() || has(info.path)) continue;
        info.description = q.description().toStdString();
        info.manufacturer = q.manufacturer().toStdString();
        info.serialNumber = q.serialNumber().toStdString();
        if (q.hasVendorIdentifier()) info.vendorId = q.vendorIdentifier();
        if (q.hasProductIdentifier()) info.productId = q.productIdentifier();
        canonicals.push_back(canonicalPath(info.path));
        info.byId = byId(canonicals.back());
        info.byPath = byPath(canonicals.back());
        out.push_back(std::move(info));
    }
    for (const std::string& p : extraPorts()) {
        if (has(p)) continue;
        const std::string canonical = canonicalPath(p);
        PortInfo info;
        // Another name of a device Qt knows (a by-id link, say): the same adapter details.
        const auto same = std::find(canonicals.begin(), canonicals.end(), canonical);
        if (!canonical.empty() && same != canonicals.end()) info = out[same - canonicals.begin()];
        info.path = p;
        info.byId = canonical.empty() ? std::string() : byId(canonical);
        info.byPath = canonical.empty() ? std::string() : byPath(canonical);
        canonicals.push_back(canonical);
        out.push_back(std::move(info));
    }
    return out;
}

bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && digit(a[ie]))
                ++ie;
            while (je < b.size() && digit(b[je]))
                ++je;
            // Compare the numbers without converting: skip leading zeros, then length, then digits.
            std::size_t is = i, js = j;
            while (is + 1 < ie && a[is] == '0')
                ++is;
            while (js + 1 < je && b[js] == '0')
                ++js;
            if (ie - is != je - js) return ie - is < je - js;
            const int c = a.compare(is, ie - is, b, js, je - js);
            if (c != 0) return c < 0;
            if (ie - i != je - j) return ie - i < je - j; // "01" after "1": keep the order total
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

ProbeResult probeForList(const std::string& path) {
    ProbeResult r;
    if (probePort(path, &r.error)) return {};
    if (r.error.kind == OpenFailure::Busy) {
        r.holders = portHolders(path);
        if (!r.holders.empty()) r.error.reason += " Held by " + r.holders + ".";
    }
    return r;
}

std::vector<PortEntry> buildPortList(const std::vector<PortInfo>& candidates, const Probe& probe,
                                     const std::string& heldPath) {
    std::vector<PortEntry> found;
    PortEntry held;
    held.info.path = heldPath;
    held.held = true;
    for (const PortInfo& c : candidates) {
        if (c.path == heldPath) {
            held.info = c;
            continue;
        }
        if (std::any_of(found.begin(), found.end(),
                        [&c](const PortEntry& e) { return e.info.path == c.path; }))
            continue;
        PortEntry e{c, probe(c.path), false};
        // Only what is there is listed; a port that is there but cannot be opened stays, with its reason.
        const int err = e.probe.error.error;
        if (!e.usable() && (err == ENOENT || err == ENOTDIR || err == ELOOP)) continue;
        found.push_back(std::move(e));
    }
    std::sort(found.begin(), found.end(),
              [](const PortEntry& a, const PortEntry& b) { return naturalLess(b.info.path, a.info.path); });
    if (!heldPath.empty()) found.push_back(std::move(held));
    return found;
}

std::string rememberedName(const PortInfo& info) {
    return info.byId.empty() ? info.path : info.byId;
}

bool comesBackAsItself(const PortInfo& info, const std::string& devRoot) {
    if (!info.byId.empty()) return true;
    const fs::path p = fs::path(info.path).lexically_normal();
    return p.parent_path() != (fs::path(devRoot) / "pts").lexically_normal();
}

namespace {
// Serial numbers that adapter makers give every unit alike: no serial number at all, or 0 or 1.
bool ownSerialNumber(const std::string& serial) {
    const std::size_t digits = serial.find_first_not_of('0');
    return digits != std::string::npos && serial.substr(digits) != "1";
}
} // namespace

bool isSameDevice(const PortInfo& lost, const PortInfo& c) {
    if (lost.vendorId == 0 && lost.productId == 0) return !lost.path.empty() && c.path == lost.path;
    if (c.vendorId != lost.vendorId || c.productId != lost.productId) return false;
    if (ownSerialNumber(lost.serialNumber)) return c.serialNumber == lost.serialNumber;
    return !lost.byPath.empty() && c.byPath == lost.byPath;
}

int findSameDevice(const std::vector<PortEntry>& entries, const PortInfo& lost) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (!entries[i].held && isSameDevice(lost, entries[i].info)) return static_cast<int>(i);
    return -1;
}

int findRemembered(const std::vector<PortEntry>& entries, const std::string& remembered) {
    if (remembered.empty()) return -1;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].info.byId == remembered || entries[i].info.path == remembered)
            return static_cast<int>(i);
    return -1;
}

std::string deviceName(const std::string& path) {
    const std::string name =
        path.rfind("/dev/", 0) == 0 ? path.substr(5) : fs::path(path).filename().string();
    return name.empty() ? path : name;
}

std::string shortName(const PortInfo& info) {
    // A network address or the demo instrument is not a device: its own words say what it is.
    if (info.path.find("://") != std::string::npos)
        return info.description.empty() ? info.path : info.description;
    std::string name = deviceName(info.path);
    if (!info.description.empty() && info.description != name) name += " " + info.description;
    return name;
}

std::string describePort(const PortEntry& e) {
    const PortInfo& i = e.info;
    std::string out = i.path;
    if (!i.byId.empty() && i.byId != i.path) out += "\n" + i.byId;
    std::string product = i.manufacturer;
    if (!i.description.empty()) product += (product.empty() ? "" : " ") + i.description;
    if (!product.empty()) out += "\n" + product;
    if (!i.serialNumber.empty()) out += "\nSerial number " + i.serialNumber;
    if (i.vendorId || i.productId) out += "\nUSB " + hex4(i.vendorId) + ":" + hex4(i.productId);
    if (!e.usable() && !e.probe.error.reason.empty()) out += "\n" + e.probe.error.reason;
    return out;
}

std::string shortReason(const std::string& name, const ProbeResult& why) {
    const OpenError& e = why.error;
    switch (e.kind) {
    case OpenFailure::None:
        return {};
    case OpenFailure::NoPermission:
        return name + ": no permission. Join the dialout group, then log in again.";
    case OpenFailure::Busy:
        return why.holders.empty() ? name + " is busy: another program holds it."
                                   : name + " is busy: held by " + why.holders + ".";
    case OpenFailure::Gone:
        return name + " is gone (unplugged?).";
    case OpenFailure::RateRefused:
        return e.reason;
    case OpenFailure::Other:
        break;
    }
    if (e.error == ENOTTY) return name + " is not a serial port.";
    return name + ": " + (e.system.empty() ? std::string("cannot be opened") : e.system) + ".";
}

std::string portHolders(const std::string& path, const std::string& procRoot) {
    const auto found = portHoldersOf({path}, procRoot);
    return found.empty() ? std::string() : found.begin()->second;
}

std::map<std::string, std::string> portHoldersOf(const std::vector<std::string>& paths,
                                                 const std::string& procRoot) {
    std::map<std::string, std::vector<std::string>> byDevice; // canonical device -> the paths to it
    for (const std::string& p : paths)
        if (const std::string device = canonicalPath(p); !device.empty()) byDevice[device].push_back(p);
    std::map<std::string, std::string> out;
    if (byDevice.empty()) return out;
    for (const fs::path& proc : entriesOf(procRoot)) {
        const std::string pid = proc.filename().string();
        if (!allDigits(pid)) continue;
        std::set<std::string> held; // each device once per process
        for (const fs::path& fd : entriesOf(proc / "fd")) {
            std::error_code ec;
            const std::string target = fs::read_symlink(fd, ec).string();
            if (!ec && byDevice.count(target)) held.insert(target);
        }
        if (held.empty()) continue;
        // The program's file name; the kernel's own name for it is cut to 15 characters.
        std::string program;
        std::ifstream cmdline(proc / "cmdline");
        std::getline(cmdline, program, '\0');
        program = fs::path(program).filename().string();
        if (program.empty()) {
            std::ifstream comm(proc / "comm");
            std::getline(comm, program);
        }
        const std::string who = (program.empty() ? std::string("a program") : program) + " (pid " + pid + ")";
        for (const std::string& device : held)
            for (const std::string& p : byDevice[device])
                out[p] += (out[p].empty() ? "" : ", ") + who;
    }
    return out;
}

ProbeResult probeWithoutHolders(const std::string& path) {
    ProbeResult r;
    if (probePort(path, &r.error)) return {};
    return r;
}

std::vector<std::string> busyPaths(const std::vector<PortEntry>& entries) {
    std::vector<std::string> out;
    for (const PortEntry& e : entries)
        if (e.probe.error.kind == OpenFailure::Busy && e.probe.holders.empty()) out.push_back(e.info.path);
    return out;
}

void addHolders(std::vector<PortEntry>& entries, const std::map<std::string, std::string>& holders) {
    for (PortEntry& e : entries) {
        const auto h = holders.find(e.info.path);
        if (h == holders.end() || e.probe.error.kind != OpenFailure::Busy || !e.probe.holders.empty())
            continue;
        e.probe.holders = h->second;
        e.probe.error.reason += " Held by " + h->second + ".";
    }
}

} // namespace mb::port
