// Adapter names over a fake /dev tree: by-id links, the remembered port in old and new settings files,
// the programs holding a busy port, and the folders the hot-plug watch looks at.
#include "link/portdiscovery.h"
#include "link/portwatch.h"
#include "portat.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace mb::port;

namespace {

struct FakeTree {
    fs::path root = fs::path(testing::TempDir()) / ("vx_portnames_" + std::to_string(::getpid()));
    FakeTree() {
        fs::remove_all(root);
        fs::create_directories(root / "dev/serial/by-id");
        for (const char* n : {"ttyUSB0", "ttyUSB1", "ttyS0"})
            std::ofstream(root / "dev" / n);
    }
    ~FakeTree() { fs::remove_all(root); }
    std::string dev(const std::string& n) const { return (root / "dev" / n).string(); }
    std::string byId(const std::string& n) const { return (root / "dev/serial/by-id" / n).string(); }
    void link(const std::string& name, const std::string& device) const {
        fs::remove(byId(name));
        fs::create_symlink("../../" + device, byId(name));
    }
    // The list as discovery would build it: every device, with its by-id link where it has one.
    std::vector<PortEntry> entries() const {
        const auto links = byIdLinks((root / "dev/serial/by-id").string());
        std::vector<PortEntry> out;
        for (const char* n : {"ttyUSB1", "ttyUSB0", "ttyS0"}) {
            PortEntry e;
            e.info.path = dev(n);
            const auto it = links.find(canonicalPath(dev(n)));
            if (it != links.end()) e.info.byId = it->second;
            out.push_back(e);
        }
        return out;
    }
};

} // namespace

TEST(PortNames, ByIdLinksAndTheRememberedPortAcrossReEnumeration) {
    FakeTree t;
    t.link("usb-FTDI_FT232R_A50285BI-if00-port0", "ttyUSB1");
    t.link("usb-Prolific_PL2303-if00-port0", "ttyUSB0");
    const std::string ftdi = t.byId("usb-FTDI_FT232R_A50285BI-if00-port0");
    auto entries = t.entries();
    EXPECT_EQ(rememberedName(entries[0].info), ftdi);           // an adapter is remembered by its by-id link
    EXPECT_EQ(rememberedName(entries[2].info), t.dev("ttyS0")); // a port without one by its path

    const struct {
        std::string stored;
        int row; // in entries: ttyUSB1, ttyUSB0, ttyS0
    } cases[] = {
        {ftdi, 0},           {t.dev("ttyUSB1"), 0}, // an older settings file holds the plain path
        {t.dev("ttyS0"), 2}, {t.dev("ttyUSB7"), -1}, {"\\\\.\\COM24", -1}, {"", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(findRemembered(entries, c.stored), c.row) << c.stored;

    // The FTDI adapter comes back as ttyUSB0: its by-id link still finds it.
    fs::remove(t.byId("usb-Prolific_PL2303-if00-port0"));
    t.link("usb-FTDI_FT232R_A50285BI-if00-port0", "ttyUSB0");
    entries = t.entries();
    EXPECT_EQ(findRemembered(entries, ftdi), 1);
    EXPECT_EQ(findRemembered(entries, t.dev("ttyUSB1")), 0); // a plain path means that path
    EXPECT_TRUE(byIdLinks((t.root / "nowhere").string()).empty());
}

TEST(PortNames, ShortNamesAndTooltips) {
    PortEntry usb{{"/dev/ttyUSB0",
                   "/dev/serial/by-id/usb-FTDI-if00",
                   "FT232R USB UART",
                   "FTDI",
                   "A50285BI",
                   0x0403,
                   0x6001,
                   {}},
                  {describeOpenError("/dev/ttyUSB0", EACCES), {}}};
    EXPECT_EQ(shortName(usb.info), "ttyUSB0 FT232R USB UART");
    EXPECT_EQ(describePort(usb), "/dev/ttyUSB0\n/dev/serial/by-id/usb-FTDI-if00\nFTDI FT232R USB UART\n"
                                 "Serial number A50285BI\nUSB 0403:6001\n" +
                                     usb.probe.error.reason);
    EXPECT_EQ(shortName(portAt("/dev/pts/3")), "pts/3");
    EXPECT_EQ(shortName(portAt("/home/me/build/run/vx2207-sim.tty")), "vx2207-sim.tty");
    EXPECT_EQ(describePort(PortEntry{portAt("/dev/pts/3"), {}, false}), "/dev/pts/3");
}

TEST(PortNames, ABusyPortNamesItsHolders) {
    FakeTree t;
    const fs::path proc = t.root / "proc";
    for (const char* pid : {"101", "202", "self"})
        fs::create_directories(proc / pid / "fd");
    std::ofstream(proc / "101/comm") << "minic\n";
    std::ofstream(proc / "101/cmdline") << std::string("/usr/bin/minicom\0-D\0/dev/ttyUSB0\0", 33);
    std::ofstream(proc / "202/comm") << "other\n";
    fs::create_symlink(t.dev("ttyUSB0"), proc / "101/fd/3");
    fs::create_symlink(t.dev("ttyUSB1"), proc / "202/fd/3");
    fs::create_symlink(t.dev("ttyUSB0"), proc / "self/fd/4"); // not a process number
    EXPECT_EQ(portHolders(t.dev("ttyUSB0"), proc.string()), "minicom (pid 101)");
    EXPECT_EQ(portHolders(t.dev("ttyUSB1"), proc.string()), "other (pid 202)");
    EXPECT_EQ(portHolders(t.dev("ttyS0"), proc.string()), "");
    const ProbeResult busy{describeOpenError("/dev/ttyUSB0", EBUSY), "minicom (pid 101)"};
    EXPECT_EQ(shortReason("ttyUSB0", busy), "ttyUSB0 is busy: held by minicom (pid 101).");

    // A list's busy ports in one pass: every path with all its holders, into the entries' reasons.
    fs::create_symlink(t.dev("ttyUSB1"), proc / "101/fd/5");
    const auto entry = [](const std::string& path, int error) {
        PortEntry e;
        e.info.path = path;
        if (error) e.probe.error = describeOpenError(path, error);
        return e;
    };
    std::vector<PortEntry> list{entry(t.dev("ttyUSB0"), EBUSY), entry(t.dev("ttyUSB1"), EBUSY),
                                entry(t.dev("ttyS0"), 0)};
    const std::vector<std::string> busyOnes = busyPaths(list);
    EXPECT_EQ(busyOnes, (std::vector<std::string>{t.dev("ttyUSB0"), t.dev("ttyUSB1")}));
    addHolders(list, portHoldersOf(busyOnes, proc.string()));
    EXPECT_EQ(list[0].probe.holders, "minicom (pid 101)");
    for (const char* who : {"minicom (pid 101)", "other (pid 202)"})
        EXPECT_NE(list[1].probe.error.reason.find(who), std::string::npos) << list[1].probe.error.reason;
    EXPECT_TRUE(list[2].probe.holders.empty());
}

TEST(PortNames, TheWatchLooksWhereDevicesAndExtraPathsAppear) {
    FakeTree t;
    const std::string simLink = (t.root / "run/sim.tty").string();
    fs::create_directories(t.root / "run");
    fs::create_directories(t.root / "dev/pts");
    std::ofstream(t.dev("pts/7"));
    fs::create_symlink("../dev/pts/7", simLink);
    const auto dirs = portWatchDirs({simLink, t.dev("pts/7"), t.dev("pts/9")}, (t.root / "dev").string());
    auto names = [&](const fs::path& d, bool node = false) -> std::set<std::string> {
        for (const WatchDir& w : dirs)
            if (w.dir == d.string() && w.node == node) return w.names;
        return {"(not watched)"};
    };
    EXPECT_EQ(names(t.root / "dev"), std::set<std::string>{}); // every entry
    EXPECT_EQ(names(t.root / "dev/serial"), std::set<std::string>{"by-id"});
    EXPECT_EQ(names(t.root / "dev/serial/by-id"), std::set<std::string>{});
    EXPECT_EQ(names(t.root / "run"), std::set<std::string>{"sim.tty"});
    // A terminal by its node while it is there; the folder never, a number showing up there again is
    // another terminal, and a lost one is not waited for.
    EXPECT_EQ(names(t.dev("pts/7"), true), std::set<std::string>{});
    EXPECT_EQ(dirs.size(), 5u);
    const struct {
        PortInfo port;
        bool waited;
    } lost[] = {{portAt(t.dev("pts/7")), false},
                {portAt(simLink), true},
                {portAt(t.dev("ttyUSB0")), true},
                {portAt(t.dev("pts/7"), t.byId("usb-x")), true}};
    for (const auto& l : lost)
        EXPECT_EQ(comesBackAsItself(l.port, (t.root / "dev").string()), l.waited) << l.port.path;
}

TEST(PortNames, OnlyTheSameDeviceIsReopenedByItself) {
    // Path, serial number, product, socket; vendor 0 means no USB device.
    const auto port = [](const char* path, const char* serial, std::uint16_t vendor, std::uint16_t product,
                         const char* socket) {
        return PortInfo{path, "", "", "", serial, vendor, product, socket};
    };
    const PortInfo own = port("/dev/ttyUSB0", "A50285BI", 0x0403, 0x6001, "usb-0:1");
    const PortInfo shared = port("/dev/ttyUSB0", "0001", 0x0403, 0x6001, "usb-0:1"); // every unit's
    const PortInfo pty = port("/tmp/bench/sim.tty", "", 0, 0, "");
    const std::tuple<PortInfo, PortInfo, bool> cases[] = {
        {own, port("/dev/ttyUSB3", "A50285BI", 0x0403, 0x6001, "usb-0:2"), true},
        {own, port("/dev/ttyUSB0", "B1", 0x0403, 0x6001, "usb-0:1"), false},
        {own, port("/dev/ttyUSB0", "A50285BI", 0x0403, 0x6015, "usb-0:1"), false},
        {shared, port("/dev/ttyUSB1", "0001", 0x0403, 0x6001, "usb-0:1"), true},
        {shared, port("/dev/ttyUSB0", "0001", 0x0403, 0x6001, "usb-0:2"), false},
        {port("/dev/ttyUSB0", "", 0x0403, 0x6001, ""), port("/dev/ttyUSB0", "", 0x0403, 0x6001, ""), false},
        {pty, pty, true},
        {pty, port("/tmp/bench/other.tty", "", 0, 0, ""), false}};
    for (const auto& [lost, back, same] : cases)
        EXPECT_EQ(isSameDevice(lost, back), same)
            << back.path << " " << back.serialNumber << " " << back.byPath;
    const std::vector<PortEntry> entries{{pty, {}, true}, {own, {}, false}};
    EXPECT_EQ(findSameDevice(entries, pty), -1) << "the held row is not the device back";
    EXPECT_EQ(findSameDevice(entries, own), 1);
}
