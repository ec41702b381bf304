// vx2207-cli as a script runs it, against the simulator: every command's JSON and exit status, under a
// decimal-comma locale.
#include "instrument/codes.h"
#include "ptypair.h"
#include "sim/harness.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;
using namespace std::chrono;

namespace {

struct Ran {
    int status = -1;
    std::string out, err;
    milliseconds took{0};
    QJsonObject json() const { // the result: the last line on stdout
        const QByteArray all = QByteArray::fromStdString(out).trimmed();
        return QJsonDocument::fromJson(all.mid(all.lastIndexOf('\n') + 1)).object();
    }
};

// The tool as a child process with its output on pipes, ended by itself or killed after `bound`.
class Cli {
public:
    // `port` is offered in MB_EXTRA_PORTS (for the tool to find by itself) unless empty.
    Cli(const std::string& port, std::vector<std::string> args, const std::string& program = VX2207_CLI) {
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env{"MB_EXTRA_PORTS=" + port, "LC_ALL=hu_HU.UTF-8"};
        if (port.empty()) env.erase(env.begin());
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("LC_ALL=", 0) != 0 && std::string(*e).rfind("MB_EXTRA_PORTS=", 0) != 0)
                env.push_back(*e);
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        int out[2], err[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, err[1], 2);
        EXPECT_EQ(::posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        ::close(err[1]);
        fds_[0] = out[0];
        fds_[1] = err[0];
    }
    void signal(int sig) { ::kill(pid_, sig); }
    Ran finish(milliseconds bound = 20s) {
        Ran r;
        std::string* sinks[2] = {&r.out, &r.err};
        const auto deadline = started_ + bound;
        for (int open = 2; open > 0 && steady_clock::now() < deadline;) {
            pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
            ::poll(p, 2, 100);
            for (int i = 0; i < 2; ++i) {
                char buf[4096];
                if (fds_[i] < 0 || !(p[i].revents & (POLLIN | POLLHUP))) continue;
                const ssize_t n = ::read(fds_[i], buf, sizeof buf);
                if (n > 0)
                    sinks[i]->append(buf, static_cast<std::size_t>(n));
                else
                    ::close(std::exchange(fds_[i], -1)), --open;
            }
        }
        if (steady_clock::now() >= deadline) ::kill(pid_, SIGKILL);
        int ws = 0;
        ::waitpid(pid_, &ws, 0);
        r.took = duration_cast<milliseconds>(steady_clock::now() - started_);
        r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
        for (int fd : fds_)
            if (fd >= 0) ::close(fd);
        return r;
    }

private:
    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    steady_clock::time_point started_ = steady_clock::now();
};

// With the simulator's port given, unless the tool is to find it by itself.
Ran run(const vx::sim::SimProcess& sim, std::vector<std::string> args, bool findPort = false,
        const std::string& program = VX2207_CLI) {
    if (!findPort) args.insert(args.begin(), {"--port", sim.devicePath()});
    // A port given with --port is opened though no list names it.
    return Cli(findPort ? sim.devicePath() : std::string(), std::move(args), program).finish();
}

QJsonValue at(const QJsonObject& o, const QString& path) { // "a.b.0.c"
    QJsonValue v = o;
    for (const QString& k : path.split('.')) {
        bool index = false;
        const int i = k.toInt(&index);
        v = index ? v.toArray().at(i) : v.toObject().value(k);
    }
    return v;
}

class CliAgainstSim : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sim_ = new vx::sim::SimProcess(VX2207_SIM, {"--calibrated", "--noise", "0"});
    }
    static void TearDownTestSuite() { delete std::exchange(sim_, nullptr); }
    static vx::sim::SimProcess* sim_;
    QTemporaryDir dir_;
    std::string file(const char* name, const QJsonObject& o) {
        const QString path = dir_.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(o).toJson());
        return path.toStdString();
    }
    QJsonObject settings() { return run(*sim_, {"get", "--json"}).json()["backup"].toObject(); }
};
vx::sim::SimProcess* CliAgainstSim::sim_ = nullptr;

} // namespace

TEST_F(CliAgainstSim, EveryCommandGivesItsJsonAndExitStatus) {
    ASSERT_TRUE(sim_->started());
    const QString port = QString::fromStdString(sim_->devicePath());
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::pair<QString, QJsonValue>> expect; // path in the result -> value
        bool findPort = false;
    } cases[] = {
        {{"ports", "--json"}, 0, {{"command", "ports"}, {"tool", "vx2207-cli"}}},
        {{"identify", "--json"},
         0,
         {{"variant", "VX2207 V"},
          {"firmware", "2014-10-06"},
          {"firmwareSupported", true},
          {"inputCalibrated", true},
          {"port", port}},
         true},
        {{"get", "--json"},
         0,
         {{"backup.format", "VX2207 settings"}, {"backup.instrument.variant", "VX2207 V"}}},
        {{"--json", "watch", "--count", "3"}, 0, {{"replies", 3}, {"command", "watch"}, {"version", 1}}},
        {{"check", "0", "50", "100", "--json"},
         0,
         {{"points.1.percent", 50},
          {"points.2.output", 22},
          {"points.2.outputUnit", "mA"},
          {"passed", true}}},
        {{"check", "7"}, 2, {}},
        {{"frobnicate"}, 2, {}},
        {{"identify", "--timeout", "0,5"}, 2, {}},
        {{"apply", "/nonexistent.json", "--json"}, 2, {{"status", 2}}},
        {{"identify", "--port", "/dev/nonexistent-tty", "--json"}, 3, {{"status", 3}}},
    };
    for (const Case& c : cases) {
        const Ran r = run(*sim_, c.args, c.findPort);
        const std::string what = c.args.front() + " " + r.err;
        EXPECT_EQ(r.status, c.status) << what;
        for (const auto& [path, value] : c.expect)
            EXPECT_EQ(at(r.json(), path), value) << what << path.toStdString();
    }
    const QJsonArray ports = run(*sim_, {"ports", "--json"}, true).json()["ports"].toArray();
    EXPECT_TRUE(std::any_of(ports.begin(), ports.end(),
                            [&](const QJsonValue& p) { return p["path"] == port && p["usable"] == true; }));
    // Machine output stays machine output: one JSON object per line, and CSV with full stops.
    const Ran lines = run(*sim_, {"watch", "--count", "2", "--json"});
    EXPECT_EQ(QByteArray::fromStdString(lines.out).count('\n'), 3);
    const QList<QByteArray> csv =
        QByteArray::fromStdString(run(*sim_, {"watch", "--count", "2"}).out).split('\n');
    ASSERT_EQ(csv.size(), 4);
    EXPECT_EQ(csv[1].count(','), csv[0].count(',')) << csv[1].constData(); // no decimal commas
}

TEST_F(CliAgainstSim, ApplyWritesAllFieldsAndGetReadsThemBack) {
    const QJsonObject original = settings();
    QJsonObject changed = original, s = original["settings"].toObject();
    s["inputType"] = "voltage";
    s["inputLow"] = -2.5;
    s["inputHigh"] = 12.5;
    s["modbusAddress"] = 17;
    changed["settings"] = s;
    const Ran r = run(*sim_, {"apply", file("new.json", changed), "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(at(r.json(), "confirmed"), true);
    EXPECT_EQ(at(r.json(), "fields.0.field"), "inputType");
    EXPECT_EQ(at(r.json(), "fields.0.written"), true);
    EXPECT_EQ(at(r.json(), "fields.3.written"), false); // outputType unchanged
    EXPECT_EQ(settings()["settings"], s);

    // Another variant's file is refused and nothing is written.
    QJsonObject other = original;
    QJsonObject instrument = other["instrument"].toObject();
    instrument["variant"] = "VX2207 M";
    other["instrument"] = instrument;
    EXPECT_EQ(run(*sim_, {"apply", file("m.json", other)}).status, 5);
    EXPECT_EQ(settings()["settings"], s);

    // As in the window: a value outside its type is refused, even forced, with its field named; a zero
    // span only unless forced.
    s["inputHigh"] = 500;
    changed["settings"] = s;
    const Ran refused = run(*sim_, {"apply", file("wide.json", changed), "--force"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("inputHigh"), std::string::npos) << refused.err;
    s["inputHigh"] = -2.5;
    changed["settings"] = s;
    const std::string zeroSpan = file("zero.json", changed);
    EXPECT_EQ(run(*sim_, {"apply", zeroSpan}).status, 2);
    const Ran forced = run(*sim_, {"apply", zeroSpan, "--force", "--json"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(at(forced.json(), "settings.inputHigh"), -2.5);

    s["inputLow"] = "abc";
    changed["settings"] = s;
    const Ran bad = run(*sim_, {"apply", file("bad.json", changed), "--json"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.json()["error"].toString().indexOf("inputLow"), -1) << bad.out;

    EXPECT_EQ(run(*sim_, {"apply", file("original.json", original)}).status, 0);
    EXPECT_EQ(settings()["settings"], original["settings"]);
}

TEST(Cli, FaultsGiveTheirExitStatus) {
    vx::sim::SimProcess silent(VX2207_SIM, {"--silent"});
    const Ran quiet = run(silent, {"identify", "--timeout", "1", "--json"});
    EXPECT_EQ(quiet.status, 4);
    EXPECT_LT(quiet.took, 2500ms);

    vx::sim::SimProcess newer(VX2207_SIM, {"--firmware", "2015-03-02"});
    const Ran refused = run(newer, {"identify", "--json"});
    EXPECT_EQ(refused.status, 5);
    EXPECT_EQ(at(refused.json(), "firmwareSupported"), false);
    EXPECT_EQ(run(newer, {"get"}).status, 5);

    vx::sim::SimProcess uncalibrated(VX2207_SIM, {});
    const Ran check = run(uncalibrated, {"check", "50", "--json"});
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(at(check.json(), "points.0.outputUncalibrated"), true);
}

// Ctrl-C in the middle of an output check: the output is released, the port closed, the status 130.
TEST(Cli, InterruptLeavesTheOutputUnforced) {
    QTemporaryDir dir;
    const std::string meter = dir.filePath("meter").toStdString();
    vx::sim::SimProcess sim(VX2207_SIM, {"--calibrated", "--noise", "0", "--meter", meter});
    std::vector<std::string> args{"check"};
    args.insert(args.end(), 200, "100");
    vx::sim::OutputLevel unforced, level;
    ASSERT_EQ(run(sim, {"identify"}).status, 0);
    ASSERT_TRUE(vx::sim::readMeter(meter, &unforced));
    Cli cli(sim.devicePath(), args);
    const auto until = steady_clock::now() + 10s;
    while (!(vx::sim::readMeter(meter, &level) && level.currentMa > 19) && steady_clock::now() < until)
        std::this_thread::sleep_for(20ms);
    ASSERT_GT(level.currentMa, 19) << "the output was never forced to 100 %";
    cli.signal(SIGINT);
    EXPECT_EQ(cli.finish().status, 130);
    ASSERT_TRUE(vx::sim::readMeter(meter, &level));
    EXPECT_NEAR(level.currentMa, unforced.currentMa, 0.01); // the output follows the input again
    EXPECT_EQ(run(sim, {"identify"}).status, 0);            // and the port is free
}

namespace {

// The simulated bench: the unit, its SCPI meter on a pseudo-terminal and its source on a loopback TCP
// port, and a history and certificate folder of the test's own.
struct SimBench {
    explicit SimBench(std::vector<std::string> args) {
        const std::string port = std::to_string(21000 + (getpid() * 7 + next++) % 20000);
        args.insert(args.end(),
                    {"--seed", "31", "--noise", "0", "--scpi-meter", meter, "--scpi-source", "tcp:" + port});
        source = "tcp:127.0.0.1:" + port;
        sim = std::make_unique<vx::sim::SimProcess>(VX2207_SIM, args);
    }
    Ran run(std::vector<std::string> args) const {
        const std::string command = args.front();
        args.push_back("--json");
        if (command != "certificate") args.insert(args.end(), {"--meter", meter});
        if (command != "check") args.insert(args.end(), {"--history", history});
        if (command == "verify" || command == "calibrate")
            args.insert(args.end(), {"--source", source, "--serial", "SN-7", "--engineer", "Kovács Éva"});
        return ::run(*sim, args, false, program);
    }
    static inline int next = 0;
    QTemporaryDir dir;
    std::string meter = dir.filePath("meter").toStdString(), source;
    std::string history = dir.filePath("history.sqlite").toStdString();
    std::unique_ptr<vx::sim::SimProcess> sim;
    std::string program = VX2207_CLI;
};

const std::string kReference = "DMM 6.5,77,CAL-118,2099-01-31";

} // namespace

// A calibrated unit on the bench: the output checked with the meter, a verification with its record,
// the record's certificate, and a calibration with its record.
TEST(CliBench, VerifyCertificateAndCalibrateWriteTheirRecords) {
    SimBench b({"--calibrated"});
    ASSERT_TRUE(b.sim->started());
    const Ran check = b.run({"check", "0", "100"});
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(at(check.json(), "points.1.verdict"), "pass");
    EXPECT_NEAR(at(check.json(), "points.1.meter").toDouble(),
                at(check.json(), "points.1.nominal").toDouble(), 0.02);

    const Ran overdue = b.run({"verify", "--reference", "DMM 6.5,77,CAL-118,2000-01-31"});
    EXPECT_EQ(overdue.status, 2);
    EXPECT_NE(overdue.err.find("was due on 2000-01-31"), std::string::npos) << overdue.err;

    const Ran verify = b.run({"verify", "--reference", kReference});
    ASSERT_EQ(verify.status, 0) << verify.err;
    const QJsonArray points = verify.json()["points"].toArray();
    EXPECT_EQ(points.size() % 4, 1) << "five output points and four per input range";
    EXPECT_EQ(at(verify.json(), "points.0.quantity"), "output_current");
    EXPECT_TRUE(std::all_of(points.begin(), points.end(), [](const QJsonValue& p) {
        return p["verdict"] == "pass" && p["phase"] == "as_found";
    }));
    EXPECT_EQ(at(verify.json(), "recordId"), 1);
    EXPECT_EQ(at(verify.json(), "meter"), "VX-SIM,Reference Meter 6.5,SIM0001,1.0");

    const std::string out = b.dir.filePath("certificates").toStdString();
    const Ran cert = b.run({"certificate", "--serial", "SN-7", "--output", out});
    ASSERT_EQ(cert.status, 0) << cert.err;
    EXPECT_EQ(cert.json()["certificate"], verify.json()["certificate"]);
    QFile pdf(at(cert.json(), "files.0").toString());
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(5).startsWith("%PDF"));
    EXPECT_EQ(b.run({"certificate", "42"}).status, 2);

    // A copy of the tool without its PDF module, then beside one that does not load: the JSON and CSV
    // all the same, and a status and reason a script notices.
    QTemporaryDir loose;
    b.program = loose.filePath("vx2207-cli").toStdString();
    ASSERT_TRUE(QFile::copy(VX2207_CLI, loose.filePath("vx2207-cli")));
    for (const char* reason : {"no vx2207-certificate-pdf.so", "file too short"}) {
        const std::string folder = loose.filePath(reason).toStdString();
        const Ran bare = b.run({"certificate", "--serial", "SN-7", "--output", folder});
        EXPECT_EQ(bare.status, 6);
        EXPECT_NE(bare.err.find("the PDF was not written: "), std::string::npos) << bare.err;
        EXPECT_NE(bare.err.find(reason), std::string::npos) << bare.err;
        const QJsonArray files = bare.json()["files"].toArray();
        ASSERT_EQ(files.size(), 2);
        for (const QJsonValue& f : files)
            EXPECT_GT(QFileInfo(f.toString()).size(), 100) << f.toString().toStdString();
        EXPECT_EQ(QDir(QString::fromStdString(folder)).entryList(QDir::Files).size(), 2);
        ASSERT_TRUE(QFile(loose.filePath("vx2207-certificate-pdf.so")).open(QIODevice::WriteOnly)); // no ELF
    }
    b.program = VX2207_CLI;

    const Ran cal = b.run({"calibrate", "--store", "--reference", kReference});
    ASSERT_EQ(cal.status, 0) << cal.err;
    EXPECT_EQ(at(cal.json(), "passed"), true);
    EXPECT_EQ(at(cal.json(), "inputStored"), true);
    EXPECT_EQ(at(cal.json(), "recordId"), 2);
    EXPECT_EQ(at(cal.json(), "result.as_left"), "pass");
    EXPECT_EQ(at(cal.json(), "output.uOut4mA").toInt() > 0, true);
}

// A unit with its seeded errors fails its verification (and the record says so); a meter that does not
// answer and a silent unit stop a run with their own status, naming the instrument.
TEST(CliBench, FailuresGiveTheirStatusAndNameTheInstrument) {
    SimBench b({});
    const Ran failing = b.run({"verify", "--trial"});
    EXPECT_EQ(failing.status, 1) << failing.err;
    EXPECT_EQ(at(failing.json(), "passed"), false);
    EXPECT_EQ(at(failing.json(), "result.as_found"), "fail");
    EXPECT_EQ(at(failing.json(), "recordId"), 1);

    PtyPair mute;
    QFile profile(b.dir.filePath("mute.profile"));
    ASSERT_TRUE(profile.open(QIODevice::WriteOnly) && profile.write("timeout=300\n") > 0);
    profile.close();
    const Ran deaf =
        ::run(*b.sim, {"verify", "--json", "--no-record", "--meter", mute.slavePath(), "--meter-profile",
                       profile.fileName().toStdString(), "--source", b.source});
    EXPECT_EQ(deaf.status, 4) << deaf.err;
    EXPECT_EQ(at(deaf.json(), "failed"), "meter");

    vx::sim::SimProcess silent(VX2207_SIM, {"--silent"});
    const Ran quiet = ::run(silent, {"calibrate", "--no-record", "--timeout", "1", "--meter", b.meter,
                                     "--source", b.source, "--json"});
    EXPECT_EQ(quiet.status, 4) << quiet.err;
}

// Ctrl-C during a calibration: status 130, the output unforced, the source off, nothing stored.
TEST(CliBench, InterruptedCalibrationLeavesTheBenchOff) {
    QTemporaryDir dir;
    const std::string file = dir.filePath("output").toStdString();
    SimBench b({"--meter", file});
    vx::sim::OutputLevel before, level;
    ASSERT_EQ(::run(*b.sim, {"identify"}).status, 0);
    ASSERT_TRUE(vx::sim::readMeter(file, &before));
    Cli cli({}, {"--port", b.sim->devicePath(), "calibrate", "--no-record", "--store", "--meter", b.meter,
                 "--source", b.source});
    const auto until = steady_clock::now() + 20s; // the output calibration forces the PWM
    while (!(vx::sim::readMeter(file, &level) && level.pwm != before.pwm) && steady_clock::now() < until)
        std::this_thread::sleep_for(20ms);
    ASSERT_NE(level.pwm, before.pwm) << "the output was never forced";
    cli.signal(SIGINT);
    const Ran stopped = cli.finish();
    EXPECT_EQ(stopped.status, 130) << stopped.err;
    vx::sim::OutputLevel left, plain;
    ASSERT_TRUE(vx::sim::readMeter(file, &left)); // as the tool's last request left it
    vx::sim::Master unit(b.sim->devicePath());
    const vx::sim::Outcome o = unit.exchange({}, 3000ms, 50);
    ASSERT_EQ(o.status, mb::stOK);
    EXPECT_EQ(o.reply.ReservedSingle, 0.0);                                        // the source is off
    EXPECT_NE(o.reply.StatusFlags & vx::instrument::kStatusOutputUncalibrated, 0); // nothing stored
    ASSERT_TRUE(vx::sim::readMeter(file, &plain));
    EXPECT_EQ(left.pwm, plain.pwm); // nothing forced: a plain request changes nothing
}
