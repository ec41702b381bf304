// vx2207-sim as a separate process on its pseudo-terminal, driven by the link's master engine.
#include "instrument/codes.h"
#include "link/core/crc16.h"
#include "link/core/linecode.h"
#include "samples.h"
#include "sim/harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vx::sim;
using namespace vx::instrument;
using namespace std::chrono_literals;

namespace {

Request settingsRequest() {
    return vx::test::sampleRequest({.inputType = kTypeVoltage,
                                    .outputType = kTypeVoltage,
                                    .inputLow = -10.0,
                                    .inputHigh = 10.0,
                                    .outputLow = 0.0,
                                    .protocol = 1,
                                    .parity = 2,
                                    .baudRate = 4,
                                    .address = 17});
}

struct Rig {
    SimProcess sim;
    Master master;
    explicit Rig(std::vector<std::string> args, unsigned timeOutMs = 150, unsigned tries = 1)
        : sim(VX2207_SIM, args), master(sim.devicePath()) {
        master.engine.setMBMasterTimeOut(static_cast<std::uint16_t>(timeOutMs));
        master.engine.setMBMasterMaxTryNumber(tries);
    }
    bool ready() const { return sim.started() && master.isOpen(); }
};

std::string tempDir() {
    char dir[] = "/tmp/vxsime2eXXXXXX";
    return mkdtemp(dir) ? dir : "";
}

} // namespace

TEST(SimE2E, AnswersTheExchangeAndCarriesOutEveryCommand) {
    Rig rig({"--firmware", "2015-02-27", "--variant", "M", "--signal", "2.0", "--noise", "0"});
    ASSERT_TRUE(rig.ready());
    Outcome o = rig.master.exchange(settingsRequest());
    ASSERT_EQ(o.status, mb::stOK) << o.text;
    EXPECT_EQ(o.data.size(), kReplySize);
    EXPECT_EQ(firmwareVersion(o.reply.FirmwareYear, o.reply.FirmwareMonth, o.reply.FirmwareDay),
              kFirmwareMax);
    EXPECT_EQ(o.reply.iTypeOfInstrument, kVariantModbus);
    EXPECT_EQ(o.reply.StatusFlags & (kStatusInputUncalibrated | kStatusOutputUncalibrated),
              kStatusInputUncalibrated | kStatusOutputUncalibrated);
    EXPECT_EQ(o.reply.AcknowledgeFlags, 0);

    Request q = settingsRequest();
    for (std::uint8_t bit : {kCmdStoreSettings, kCmdStoreInputCalibration, kCmdStoreOutputCalibration,
                             kCmdRestart, kCmdClearTemperatureMinMax}) {
        q.CommandFlags = bit;
        o = rig.master.exchange(q);
        ASSERT_EQ(o.status, mb::stOK);
        EXPECT_EQ(o.reply.AcknowledgeFlags, bit);
    }
    EXPECT_EQ(o.reply.InputTypeCode, kTypeVoltage);
    EXPECT_EQ(o.reply.DeviceInputLow, -10.0);
    EXPECT_EQ(o.reply.ModbusAddress, 17);
    EXPECT_EQ(o.reply.StatusFlags & (kStatusInputUncalibrated | kStatusOutputUncalibrated), 0);
    EXPECT_EQ(o.reply.CalibrationYear, 2014);
    EXPECT_EQ(o.reply.ReservedByte, 1); // one restart
    EXPECT_EQ(o.reply.DataSourceRam1, kSourceFram1);
    EXPECT_EQ(o.reply.TemperatureMin, o.reply.Temperature);

    q.CommandFlags = kCmdClearFramRestart;
    o = rig.master.exchange(q);
    EXPECT_EQ(o.reply.AcknowledgeFlags, kCmdClearFramRestart);
    EXPECT_EQ(o.reply.DeviceInputLow, -25.0); // the MODBUS variant's factory scale
    EXPECT_EQ(o.reply.DataSourceRam1, kSourceFactory);
    EXPECT_NE(o.reply.StatusFlags & kStatusInputUncalibrated, 0);

    q.CommandFlags = 0;
    q.RangeForceCode = rangeForceCode(3); // "2,3 V"
    o = rig.master.exchange(q);
    EXPECT_EQ(o.reply.InputRangeIndex, 2);
    EXPECT_EQ(o.reply.uDivider, 1);
    q.RangeForceCode = 0;
    q.uPWMForce = 4321;
    EXPECT_EQ(rig.master.exchange(q).reply.PwmValue, 4321);
}

TEST(SimE2E, BadRequestsGetTheResponderRulesAndTheInstrumentCarriesOn) {
    Rig rig({});
    ASSERT_TRUE(rig.ready());
    // A request of the wrong length does nothing and is refused.
    Request q = settingsRequest();
    q.CommandFlags = kCmdStoreInputCalibration;
    auto bytes = encodeRequest(q);
    Outcome o = rig.master.transact(1, {bytes.begin(), bytes.begin() + 50});
    EXPECT_EQ(o.status, mb::stSlaveError);
    EXPECT_EQ(o.text, "Slave Error: #131");
    std::vector<std::uint8_t> longer(bytes.begin(), bytes.end());
    longer.push_back(0);
    EXPECT_EQ(rig.master.transact(1, longer).text, "Slave Error: #131");
    EXPECT_EQ(rig.master.transact(7, {}).text, "Slave Error: #130");
    EXPECT_EQ(rig.master.transact(200, {}).text, "Slave Error: #130");
    // The link's own commands still answer.
    o = rig.master.transact(129, {});
    ASSERT_EQ(o.status, mb::stOK);
    EXPECT_GE(o.data.size(), 8u);
    // A frame with a bad CRC is ignored: no answer.
    std::uint8_t frame[8] = {0x01, 0x00, 0x01, 1, 2, 3, 0, 0};
    const std::uint16_t crc = mb::crc16(frame, 6) ^ 0x0101;
    frame[6] = static_cast<std::uint8_t>(crc);
    frame[7] = static_cast<std::uint8_t>(crc >> 8);
    std::uint8_t line[16];
    mb::encodeFrame(frame, sizeof frame, line);
    ASSERT_TRUE(writeAll(rig.master.fd(), line, sizeof line));
    EXPECT_TRUE(rig.master.listen(100ms).empty());
    // None of it was carried out, and the instrument still answers.
    q.CommandFlags = 0;
    o = rig.master.exchange(q);
    ASSERT_EQ(o.status, mb::stOK);
    EXPECT_NE(o.reply.StatusFlags & kStatusInputUncalibrated, 0);
}

TEST(SimE2E, SilenceDropsAndCorruptionEndInTimeOuts) {
    for (const char* fault : {"--silent", "--drop=1", "--corrupt=1"}) {
        Rig rig({fault}, 100, 2);
        ASSERT_TRUE(rig.ready()) << fault;
        const Outcome o = rig.master.exchange(settingsRequest());
        EXPECT_EQ(o.status, mb::stTimeOut) << fault;
        EXPECT_EQ(rig.master.engine.MBMasterTryNumber(), 2) << fault;
    }
    // Shares: some replies get through, some do not, and retries recover the lost ones.
    Rig shares({"--drop", "0.2", "--corrupt", "0.2", "--seed", "7"}, 60, 1);
    ASSERT_TRUE(shares.ready());
    int ok = 0, lost = 0;
    for (int i = 0; i < 30; ++i)
        (shares.master.exchange(settingsRequest()).status == mb::stOK ? ok : lost)++;
    EXPECT_GT(ok, 5);
    EXPECT_GT(lost, 5);
    shares.master.engine.setMBMasterMaxTryNumber(5);
    for (int i = 0; i < 5; ++i) {
        const Outcome o = shares.master.exchange(settingsRequest());
        EXPECT_EQ(o.status, mb::stOK)
            << int(shares.master.engine.MBMasterTryNumber()) << " tries, " << o.elapsed.count() << " us";
    }
}

TEST(SimE2E, SlaveErrorDelayAndLateReply) {
    {
        Rig rig({"--slave-error", "200"});
        ASSERT_TRUE(rig.ready());
        const Outcome o = rig.master.exchange(settingsRequest());
        EXPECT_EQ(o.status, mb::stSlaveError);
        EXPECT_EQ(o.text, "Slave Error: #200");
    }
    {
        Rig rig({"--delay", "80"}, 300);
        ASSERT_TRUE(rig.ready());
        const Outcome o = rig.master.exchange(settingsRequest());
        EXPECT_EQ(o.status, mb::stOK);
        EXPECT_GE(o.elapsed, 80ms);
    }
    {
        // Held back past the master's time-out: the master gives up, then takes the reply late.
        Rig rig({"--late", "1", "--late-ms", "250"}, 100, 1);
        ASSERT_TRUE(rig.ready());
        EXPECT_EQ(rig.master.exchange(settingsRequest()).status, mb::stTimeOut);
        const auto late = rig.master.listen(400ms);
        ASSERT_EQ(late.size(), 1u);
        EXPECT_EQ(late[0].status, mb::stOK);
        EXPECT_EQ(late[0].data.size(), kReplySize);
    }
}

TEST(SimE2E, LineFaultsTheDecoderMustRideThrough) {
    const std::vector<std::vector<std::string>> faults = {{"--garbage", "40"},
                                                          {"--split-writes", "--split-gap", "200"},
                                                          {"--double-frame"},
                                                          {"--baud", "115200"}};
    for (const auto& args : faults) {
        Rig rig(args, 300);
        ASSERT_TRUE(rig.ready()) << args[0];
        for (int i = 0; i < 5; ++i) {
            const Outcome o = rig.master.exchange(settingsRequest());
            ASSERT_EQ(o.status, mb::stOK) << args[0];
            EXPECT_EQ(o.data.size(), kReplySize) << args[0];
            EXPECT_EQ(o.reply.FirmwareYear, 2014) << args[0];
            if (args[0] == "--baud") {
                EXPECT_GE(o.elapsed, 16ms); // 196 characters at 115200 bit/s
            }
        }
    }
}

TEST(SimE2E, StateFileLinkAndCleanEnd) {
    const std::string dir = tempDir();
    ASSERT_FALSE(dir.empty());
    const std::string state = dir + "/state.txt", link = dir + "/vx2207";
    {
        SimProcess sim(VX2207_SIM, {"--state", state, "--link", link});
        ASSERT_TRUE(sim.started());
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(sim.devicePath(), target);
        auto master = std::make_unique<Master>(link);
        Request q = settingsRequest();
        q.CommandFlags = kCmdStoreSettings | kCmdStoreOutputCalibration;
        ASSERT_EQ(master->exchange(q).reply.AcknowledgeFlags, q.CommandFlags);
        // The configurator closes and reopens its port: the instrument serves the new opener.
        master.reset();
        master = std::make_unique<Master>(link);
        ASSERT_EQ(master->exchange(settingsRequest()).status, mb::stOK);
        master.reset();
        EXPECT_EQ(sim.stop(), 0);
        struct stat st {};
        EXPECT_NE(lstat(link.c_str(), &st), 0); // the link is gone
    }
    {
        Rig rig({"--state", state});
        ASSERT_TRUE(rig.ready());
        const Outcome o = rig.master.exchange(Request{});
        EXPECT_EQ(o.reply.InputTypeCode, kTypeVoltage);
        EXPECT_EQ(o.reply.ModbusAddress, 17);
        EXPECT_EQ(o.reply.DataSourceRam1, kSourceFram1);
        EXPECT_EQ(o.reply.StatusFlags & (kStatusOutputUncalibrated | kStatusFramError), 0);
    }
    std::ofstream(state) << "this is not a memory\n";
    {
        Rig rig({"--state", state});
        ASSERT_TRUE(rig.ready());
        const Outcome o = rig.master.exchange(Request{});
        EXPECT_NE(o.reply.StatusFlags & kStatusFramError, 0);
        EXPECT_EQ(o.reply.InputTypeCode, kTypeCurrent);
    }
    std::remove(state.c_str());
    rmdir(dir.c_str());
}

TEST(SimE2E, ControlFifoSwitchesTheSignalAndTheMeterFileFollowsTheOutput) {
    const std::string dir = tempDir();
    ASSERT_FALSE(dir.empty());
    const std::string fifo = dir + "/control", meter = dir + "/meter.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0); // left over from a killed run: taken over
    {
        Rig rig({"--control", fifo, "--meter", meter, "--noise", "0", "--signal", "1"});
        ASSERT_TRUE(rig.ready());
        OutputLevel level;
        ASSERT_TRUE(readMeter(meter, &level)); // in place before the device path is out
        EXPECT_EQ(level.pwm, 0);
        Request q = settingsRequest();
        q.uPWMForce = 30000;
        ASSERT_EQ(rig.master.exchange(q).status, mb::stOK);
        ASSERT_TRUE(readMeter(meter, &level));
        const Unit unit = Unit::fromSeed(2207);
        EXPECT_EQ(level.pwm, 30000);
        EXPECT_NEAR(level.currentMa, unit.current.at(30000), 1e-6);
        EXPECT_NEAR(level.voltageV, unit.voltage.at(30000), 1e-6);

        // Each good line takes effect (the reserved single shows it) with its reading settled at once;
        // writers come and go, and bad or over-long lines in between change nothing.
        const struct {
            std::string line;
            float signal;
            bool switches;
        } steps[] = {
            {"signal 2.5", 2.5f, true}, {"nonsense", 2.5f, false},  {std::string(5000, '7'), 2.5f, false},
            {"short", 0.0f, true},      {"signal -3", -3.0f, true}, {"open", 0.0f, true}};
        for (const auto& step : steps) {
            const std::string name = step.line.substr(0, 20);
            ASSERT_TRUE(sendControl(fifo, step.line)) << name;
            Outcome o;
            for (int i = 0; i < 100 && !(o.status == mb::stOK && o.reply.ReservedSingle == step.signal); ++i)
                o = rig.master.exchange(q);
            ASSERT_EQ(o.reply.ReservedSingle, step.signal) << name;
            // The factory setting measures current (CH0): a quarter of a second of further samples
            // changes nothing.
            if (step.switches) {
                EXPECT_EQ(rig.master.exchange(q, 3000ms, 250).reply.AdFiltered0, o.reply.AdFiltered0) << name;
            }
        }
        EXPECT_EQ(rig.sim.stop(), 0);
    }
    struct stat st {};
    EXPECT_NE(lstat(fifo.c_str(), &st), 0); // removed at exit

    // A control path that is not a FIFO, or a meter file that cannot be written, is refused.
    std::ofstream(fifo) << "keep me\n";
    for (const auto& args : {std::vector<std::string>{"--control", fifo},
                             std::vector<std::string>{"--meter", dir + "/missing/meter.txt"}}) {
        SimProcess sim(VX2207_SIM, args);
        EXPECT_FALSE(sim.started()) << args[0];
        EXPECT_EQ(sim.stop(), 1) << args[0];
    }
    std::ifstream kept(fifo);
    std::string text;
    EXPECT_TRUE(std::getline(kept, text) && text == "keep me");
    std::remove(fifo.c_str());
    std::remove(meter.c_str());
    rmdir(dir.c_str());
}

TEST(SimE2E, EndsWithTheProcessThatStartedIt) {
    // A harness that dies without stopping its simulator (a crashed test) leaves nothing behind.
    int pidPipe[2];
    ASSERT_EQ(pipe(pidPipe), 0);
    const pid_t harness = fork();
    ASSERT_GE(harness, 0);
    if (harness == 0) {
        close(pidPipe[0]);
        auto* sim = new SimProcess(VX2207_SIM, {}); // never stopped on purpose
        const pid_t simPid = sim->started() ? sim->pid() : -1;
        [[maybe_unused]] const ssize_t n = write(pidPipe[1], &simPid, sizeof simPid);
        _exit(0);
    }
    close(pidPipe[1]);
    pid_t simPid = -1;
    ASSERT_EQ(read(pidPipe[0], &simPid, sizeof simPid), static_cast<ssize_t>(sizeof simPid));
    close(pidPipe[0]);
    int status = 0;
    waitpid(harness, &status, 0);
    ASSERT_GT(simPid, 0);
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {
        // Reparented and ended: a zombie of init's or gone entirely; either way no longer running.
        std::ifstream stat("/proc/" + std::to_string(simPid) + "/stat");
        std::string pidField, comm, state;
        gone = !(stat >> pidField >> comm >> state) || state == "Z";
        if (!gone) usleep(10000);
    }
    EXPECT_TRUE(gone);
}
