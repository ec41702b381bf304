#include "sim/simulator.h"

#include "common/pictureformat.h"
#include "instrument/codes.h"
#include "instrument/exchange.h"
#include "link/core/crc16.h"
#include "link/core/linecode.h"
#include "sim/statefile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vx::sim {
namespace in = vx::instrument;

std::string usageText() {
    return R"(Usage: vx2207-sim [OPTION]...
Simulates a VX2207 instrument on a pseudo-terminal. The device path is printed as the first line of
standard output; open it with the configurator (or list it in MB_EXTRA_PORTS). Runs until SIGINT or
SIGTERM.

Device:
  --link PATH            also make a symbolic link PATH to the device (removed again at exit)
  --tcp PORT             listen on 127.0.0.1:PORT instead (0: a free port) and serve one connection at
                         a time, as a serial device server would; prints tcp://127.0.0.1:PORT
  --state FILE           keep the instrument's memory (settings, calibration, working time,
                         temperature extremes) in FILE between runs; a broken file gives factory
                         data and the FRAM error flag until something is stored or the FRAM cleared
  --exit-with-parent     end (as on SIGTERM) when the process that started it ends, so a test
                         harness that dies never leaves a simulator behind
  --meter FILE           a meter on the output: FILE holds its reading, rewritten at start and after
                         every reply (through a temporary file and a rename, never half written):
                           current_mA=12.345678
                           voltage_V=6.172839
                           pwm=32768
                         the current and the voltage output (both follow the same PWM, through this
                         unit's true curves) and the PWM word in use; full stop, six decimals
  --control PATH         a calibrator on the input, switched while the simulator runs: makes a FIFO
                         at PATH (removed at exit; an existing FIFO is reused, any other file
                         refused) that takes one command per line, e.g. echo 'signal 0.2' > PATH:
                           signal VALUE  apply VALUE as --signal takes it (number or waveform)
                           short         inputs shorted (0 V)
                           open          inputs open (0 mA)
                         bad lines are reported on standard error and ignored
  --scpi-meter PLACE     a SCPI reference meter on the output: PLACE is tcp:PORT (listening on
                         127.0.0.1) or a PATH where a symbolic link to its own pseudo-terminal is
                         made; it answers *IDN?, SYST:ERR?, MEAS:CURR:DC? (amperes) and
                         MEAS:VOLT:DC? (volts) with this unit's true output
  --meter-digits N       the SCPI meter's significant digits (default 6)
  --meter-noise PPM      its noise, standard deviation in parts per million (default 2)
  --meter-settle MS      its reading follows each change of the output with a first-order lag of
                         this time constant in milliseconds (default 0: at once)
  --scpi-source PLACE    a SCPI calibrator on the input, placed as the meter: SOUR:VOLT V,
                         SOUR:CURR A (levels beyond 130 V or 25 mA refused with error -222),
                         OUTP ON|OFF, *IDN?, SYST:ERR?
  -v, --verbose          log every request and reply on standard error
  -h, --help             show this text and exit

Instrument:
  --firmware YYYY-MM-DD  firmware date (default 2014-10-06; the configurator supports
                         2013-11-28 ... 2015-02-27, so e.g. 2015-03-02 shows its refusal)
  --calibrated           start as calibrated at the factory: this unit's true input and output
                         constants stored (without it, the nominal ones are, input and output
                         read off by the unit's own errors and report "not calibrated" until a
                         calibration is stored)
  --variant V|M          V: analogue output "VX2207 V" (default), M: MODBUS output "VX2207 M"
  --signal SIGNAL        the measured input in the unit of the range in use (V, or mA on the
                         current range): a number (default 12), or sine:LOW:HIGH:PERIOD or
                         triangle:LOW:HIGH:PERIOD with the period in seconds
  --noise COUNTS         converter noise, standard deviation in counts (default 40)
  --temperature C        board temperature around which it drifts (default 24; -250: no sensor)
  --seed N               seed of the noise and fault generators, and of this unit's own offsets
                         and gains on the input ranges and the two outputs (default 2207)

Faults (shares are fractions 0..1 of the replies):
  --silent               never answer (requests are ignored)
  --drop SHARE           leave this share of replies unsent
  --corrupt SHARE        damage one character in this share of replies (their CRC fails)
  --slave-error N        answer with error number N in the status byte (129..255 are errors)
  --slave-error-share SHARE
                         only this share of replies carries the error (default 1)
  --delay MS             answer MS milliseconds after the request (the responder's reply delay)
  --late SHARE           hold this share of replies back until after the master's time-out
  --late-ms MS           how long a late reply is held back (default 1200)
  --garbage N            put N random characters on the line before every reply
  --split-writes         write replies one character at a time with small gaps
  --split-gap US         the gap between those writes in microseconds (default 500)
  --double-frame         put another responder's frame and the reply in one write
  --baud RATE            pace the output at RATE bit/s, 10 bits per character (default: unpaced)

A complete simulated bench (an uncalibrated unit, its meter and its calibrator):
  vx2207-sim --link /tmp/vx.tty --scpi-meter /tmp/vx-meter.tty --scpi-source tcp:5025
Each instrument's place is also printed after the device path, as "meter: PLACE" and
"source: PLACE".

Behaviour: answers link command 1 with the instrument's reply; other commands from 1 to 127 get
error 130 and a command-1 request that is not 102 bytes long gets error 131, with nothing carried
out. The reserved reply byte counts restarts since start-up; the reserved reply single carries the
applied signal. Switching the signal restarts the converter's filter, as a path change does, so with
--noise 0 the first reply that carries a new signal or path also carries its settled reading.
)";
}

namespace {

bool parseUnsigned(std::string_view t, unsigned long max, unsigned long* out) {
    unsigned long v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc{} || end != t.data() + t.size() || v > max) return false;
    *out = v;
    return true;
}

bool parseShare(std::string_view t, double* out) {
    double v = 0;
    if (!vx::parseDecimal(t, &v) || !(v >= 0.0 && v <= 1.0)) return false;
    *out = v;
    return true;
}

bool parseDate(std::string_view t, ModelConfig* m) {
    unsigned long y = 0, mo = 0, d = 0;
    if (t.size() != 10 || t[4] != '-' || t[7] != '-' || !parseUnsigned(t.substr(0, 4), 9999, &y) ||
        !parseUnsigned(t.substr(5, 2), 12, &mo) || !parseUnsigned(t.substr(8, 2), 31, &d) || mo == 0 ||
        d == 0)
        return false;
    m->firmwareYear = static_cast<std::uint16_t>(y);
    m->firmwareMonth = static_cast<std::uint8_t>(mo);
    m->firmwareDay = static_cast<std::uint8_t>(d);
    return true;
}

bool setText(std::string_view t, std::string* out) {
    if (t.empty()) return false;
    *out = t;
    return true;
}

template <typename T> bool setUnsigned(std::string_view t, unsigned long max, T* out) {
    unsigned long n = 0;
    if (!parseUnsigned(t, max, &n)) return false;
    *out = static_cast<T>(n);
    return true;
}

bool setPlace(std::string_view t, std::string* out) {
    ScpiPlace place;
    std::string why; // the caller names the option and its value instead
    if (!parseScpiPlace(t, &place, &why)) return false;
    *out = t;
    return true;
}

bool setBounded(std::string_view t, double max, double* out) {
    double v = 0;
    if (!vx::parseDecimal(t, &v) || !(v >= 0) || v > max) return false;
    *out = v;
    return true;
}

struct OptionRule {
    std::string_view name;
    bool takesValue;
    // Applies the value (empty for a flag); false when it is a bad one. None for --help.
    bool (*apply)(std::string_view value, Options* o);
    std::string_view alias = {}; // a short form, if any
};

// Every option the simulator takes; usageText() describes them.
constexpr OptionRule kOptionRules[] = {
    {"--help", false, nullptr, "-h"},
    {"--verbose", false, [](auto, Options* o) { return o->verbose = true; }, "-v"},
    {"--exit-with-parent", false, [](auto, Options* o) { return o->exitWithParent = true; }},
    {"--calibrated", false, [](auto, Options* o) { return o->calibrated = true; }},
    {"--silent", false, [](auto, Options* o) { return o->silent = true; }},
    {"--split-writes", false, [](auto, Options* o) { return o->splitWrites = true; }},
    {"--double-frame", false, [](auto, Options* o) { return o->doubleFrame = true; }},
    {"--link", true, [](auto v, Options* o) { return setText(v, &o->link); }},
    {"--state", true, [](auto v, Options* o) { return setText(v, &o->stateFile); }},
    {"--meter", true, [](auto v, Options* o) { return setText(v, &o->meterFile); }},
    {"--control", true, [](auto v, Options* o) { return setText(v, &o->controlPath); }},
    {"--scpi-meter", true, [](auto v, Options* o) { return setPlace(v, &o->scpiMeter); }},
    {"--scpi-source", true, [](auto v, Options* o) { return setPlace(v, &o->scpiSource); }},
    {"--meter-digits", true,
     [](auto v, Options* o) {
         int digits = 0;
         if (!setUnsigned(v, 12, &digits) || digits == 0) return false;
         o->meter.digits = digits;
         return true;
     }},
    {"--meter-noise", true, [](auto v, Options* o) { return setBounded(v, 1e5, &o->meter.noisePpm); }},
    {"--meter-settle", true, [](auto v, Options* o) { return setBounded(v, 1e5, &o->meter.settleMs); }},
    {"--firmware", true, [](auto v, Options* o) { return parseDate(v, &o->model); }},
    {"--variant", true,
     [](auto v, Options* o) {
         if (v == "V" || v == "v") {
             o->model.variant = in::kVariantAnalog;
         } else if (v == "M" || v == "m") {
             o->model.variant = in::kVariantModbus;
         } else {
             return false;
         }
         return true;
     }},
    {"--signal", true, [](auto v, Options* o) { return parseSignal(v, &o->model.signal); }},
    {"--noise", true, [](auto v, Options* o) { return setBounded(v, 1e6, &o->model.noiseCounts); }},
    {"--temperature", true,
     [](auto v, Options* o) {
         double t = 0;
         if (!vx::parseDecimal(v, &t) || !(std::abs(t) < 1e4)) return false;
         o->model.temperature = t;
         return true;
     }},
    {"--seed", true, [](auto v, Options* o) { return setUnsigned(v, UINT32_MAX, &o->model.seed); }},
    {"--drop", true, [](auto v, Options* o) { return parseShare(v, &o->dropShare); }},
    {"--corrupt", true, [](auto v, Options* o) { return parseShare(v, &o->corruptShare); }},
    {"--slave-error", true, [](auto v, Options* o) { return setUnsigned(v, 255, &o->slaveError); }},
    {"--slave-error-share", true, [](auto v, Options* o) { return parseShare(v, &o->slaveErrorShare); }},
    {"--delay", true, [](auto v, Options* o) { return setUnsigned(v, 65535, &o->delayMs); }},
    {"--late", true, [](auto v, Options* o) { return parseShare(v, &o->lateShare); }},
    {"--late-ms", true, [](auto v, Options* o) { return setUnsigned(v, 600000, &o->lateMs); }},
    {"--garbage", true, [](auto v, Options* o) { return setUnsigned(v, 4096, &o->garbageBytes); }},
    {"--split-gap", true, [](auto v, Options* o) { return setUnsigned(v, 1000000, &o->splitGapUs); }},
    {"--tcp", true, [](auto v, Options* o) { return setUnsigned(v, 65535, &o->tcpPort); }},
    {"--baud", true, [](auto v, Options* o) { return setUnsigned(v, 10000000, &o->baud); }},
};

} // namespace

std::vector<std::string_view> optionNames() {
    std::vector<std::string_view> names;
    for (const OptionRule& r : kOptionRules) {
        names.push_back(r.name);
        if (!r.alias.empty()) names.push_back(r.alias);
    }
    return names;
}

Memory startingMemory(const Options& options) {
    const ModelConfig& m = options.model;
    return options.calibrated ? calibratedMemory(Unit::fromSeed(m.seed), m.variant, m.firmwareYear,
                                                 m.firmwareMonth, m.firmwareDay)
                              : factoryMemory(m.variant);
}

bool parseOptions(int argc, const char* const* argv, Options* o, bool* help, std::string* error) {
    *help = false;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        const auto rule =
            std::find_if(std::begin(kOptionRules), std::end(kOptionRules), [&](const OptionRule& r) {
                return name == r.name || (!r.alias.empty() && name == r.alias);
            });
        if (rule == std::end(kOptionRules)) {
            *error = "unknown option '" + name + "'";
            return false;
        }
        if (!rule->takesValue && hasValue) {
            *error = name + " takes no value";
            return false;
        }
        if (rule->takesValue && !hasValue) {
            if (i + 1 >= argc) {
                *error = name + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if (!rule->apply) {
            *help = true;
        } else if (!rule->apply(value, o)) {
            *error = "bad value for " + name + ": '" + value + "'";
            return false;
        }
    }
    return true;
}

int openControlFifo(const std::string& path, std::string* error) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISFIFO(st.st_mode)) {
            *error = path + " exists and is not a FIFO";
            return -1;
        }
    } else if (mkfifo(path.c_str(), 0600) != 0) {
        *error = "cannot make " + path + ": " + std::strerror(errno);
        return -1;
    }
    // Read-write: this process is a writer too, so the last writer leaving never gives end of file.
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) *error = "cannot open " + path + ": " + std::strerror(errno);
    return fd;
}

void closeControlFifo(int fd, const std::string& path) {
    struct stat mine {
    }, there{};
    const bool known = fstat(fd, &mine) == 0;
    close(fd);
    // Someone may have put another file there meanwhile; only our FIFO goes.
    if (known && lstat(path.c_str(), &there) == 0 && S_ISFIFO(there.st_mode) && there.st_ino == mine.st_ino &&
        there.st_dev == mine.st_dev)
        unlink(path.c_str());
}

Simulator::Simulator(const Options& options, int fd, const Memory& memory, bool framError, int controlFd)
    : LoopHost(fd), options_(options), model_(options.model, memory, framError),
      faults_(options.model.seed ^ 0x5EEDu), control_(controlFd) {
    watch(control_);
    engine.setMBMode(mb::modeSlave);
    engine.setMBSlaveOwnAddress(1);
    engine.setMBSlaveDelayTime(static_cast<std::uint16_t>(options.delayMs));
    engine.OnMBSlaveReceivedCommand = [this](std::uint8_t command, bool, std::uint16_t n) {
        onCommand(command, n);
    };
    engine.portOpening();
    engine.portOpened();
}

bool Simulator::chance(double share) {
    if (share <= 0.0) return false;
    if (share >= 1.0) return true;
    return std::uniform_real_distribution<double>(0.0, 1.0)(faults_) < share;
}

void Simulator::received(const std::uint8_t* data, std::size_t size) {
    if (options_.silent) return;
    LoopHost::received(data, size);
}

void Simulator::onCommand(std::uint8_t command, std::uint16_t dataNumber) {
    if (options_.slaveError != 0 && chance(options_.slaveErrorShare)) {
        engine.setMBSlaveErrorCode(static_cast<std::uint8_t>(options_.slaveError));
        return;
    }
    if (command != in::kExchangeCommand) {
        engine.setMBSlaveErrorCode(kErrorUnknownCommand);
        return;
    }
    // A request of another length is not this configurator's: carrying out half a request could store
    // zeros as calibration, so nothing is done.
    if (dataNumber != in::kRequestSize) {
        engine.setMBSlaveErrorCode(kErrorBadLength);
        return;
    }
    const std::span<const std::uint8_t> data(engine.rxBuffer().frame() + 3, dataNumber);
    const in::Request q = in::decodeRequest(data);
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_);
    const in::Reply r = model_.handle(q, now);
    for (std::uint8_t b : in::encodeReply(r))
        engine.MBTXPutByte(b);
    if (options_.verbose) {
        std::fprintf(
            stderr,
            "request: commands %02X pwm %u direct %u gain %u divider %u range %u -> ack %02X status %02X"
            " range %u input %.6g pwm %u\n",
            q.CommandFlags, q.uPWMForce, q.DirectControl, q.GainForceCode, q.DividerForceCode,
            q.RangeForceCode, r.AcknowledgeFlags, r.StatusFlags, r.InputRangeIndex, r.InputValue, r.PwmValue);
    }
    if (model_.takeMemoryDirty()) saveState();
    if (scpiMeter_) scpiMeter_->responder().follow();
    writeMeter();
}

bool Simulator::openBench(std::string* error) {
    options_.meter.seed = options_.model.seed ^ 0x3E7Eu;
    auto open = [&](const std::string& where, ScpiResponder::Role role, std::unique_ptr<ScpiPort>* port) {
        ScpiPlace place;
        if (where.empty()) return true;
        if (!parseScpiPlace(where, &place, error)) return false;
        *port = std::make_unique<ScpiPort>(ScpiResponder(
            role, options_.meter, [this] { return model_.output(); },
            [this](const Signal& s) { model_.setSignal(s); }));
        return (*port)->open(place, error);
    };
    if (!open(options_.scpiMeter, ScpiResponder::Role::Meter, &scpiMeter_) ||
        !open(options_.scpiSource, ScpiResponder::Role::Source, &scpiSource_))
        return false;
    std::vector<int> fds;
    for (const auto* port : {&scpiMeter_, &scpiSource_})
        if (*port)
            for (int fd : (*port)->fds())
                fds.push_back(fd);
    watchAlso(std::move(fds));
    return true;
}

std::string Simulator::benchPlaces() const {
    std::string out;
    if (scpiMeter_) out += "meter: " + scpiMeter_->where() + "\n";
    if (scpiSource_) out += "source: " + scpiSource_->where() + "\n";
    return out;
}

void Simulator::alsoReadable(int fd) {
    for (const auto* port : {&scpiMeter_, &scpiSource_}) {
        if (!*port) continue;
        const auto before = (*port)->fds();
        if (std::find(before.begin(), before.end(), fd) == before.end()) continue;
        (*port)->readable(fd);
        if ((*port)->fds() != before) { // a client came or went
            std::vector<int> fds;
            for (const auto* p : {&scpiMeter_, &scpiSource_})
                if (*p)
                    for (int f : (*p)->fds())
                        fds.push_back(f);
            watchAlso(std::move(fds));
        }
        return;
    }
}

bool Simulator::writeMeter() {
    if (options_.meterFile.empty()) return true;
    const bool ok = writeFileAtomically(options_.meterFile, meterText(model_.output()));
    if (!ok && !meterFailed_)
        std::fprintf(stderr, "vx2207-sim: cannot write %s\n", options_.meterFile.c_str());
    meterFailed_ = !ok;
    return ok;
}

void Simulator::extraReadable() {
    char buf[1024];
    // A bounded helping per wake-up, so a writer that never stops cannot starve the line.
    for (int i = 0; i < 64; ++i) {
        const ssize_t n = ::read(control_, buf, sizeof buf);
        if (n > 0) {
            for (const LineSplitter::Line& line : controlLines_.feed({buf, static_cast<std::size_t>(n)}))
                control(line);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        // End of file or an error cannot happen on a FIFO we also write; stop listening rather than spin.
        std::fprintf(stderr, "vx2207-sim: control channel failed; no longer read\n");
        watch(-1);
        return;
    }
}

void Simulator::control(const LineSplitter::Line& line) {
    if (line.tooLong) {
        std::fprintf(stderr, "vx2207-sim: control: line longer than %zu characters ignored\n",
                     kMaxControlLine);
        return;
    }
    ControlCommand c;
    std::string error;
    if (!parseControlLine(line.text, &c, &error)) {
        std::fprintf(stderr, "vx2207-sim: control: %s; ignored\n", error.c_str());
        return;
    }
    if (c.kind == ControlCommand::Kind::Blank) return;
    model_.setSignal(c.signal);
    if (options_.verbose) std::fprintf(stderr, "control: %s\n", line.text.c_str());
}

void Simulator::saveState() {
    if (options_.stateFile.empty()) return;
    if (!saveMemory(options_.stateFile, model_.memory()))
        std::fprintf(stderr, "vx2207-sim: cannot write %s\n", options_.stateFile.c_str());
}

bool Simulator::deliver(const std::uint8_t* data, std::size_t size) {
    // The engine writes a frame a byte at a time; the faults act on the whole reply once it is written.
    collecting_.insert(collecting_.end(), data, data + size);
    return true;
}

void Simulator::writesDone() {
    if (!collecting_.empty()) schedule(std::exchange(collecting_, {}));
}

void Simulator::schedule(std::vector<std::uint8_t> frame) {
    ++replies_;
    if (chance(options_.dropShare)) {
        ++injected_.dropped;
        if (options_.verbose) std::fprintf(stderr, "reply dropped\n");
        return;
    }
    const bool corrupted = frame.size() >= 6 && chance(options_.corruptShare);
    if (corrupted) {
        ++injected_.corrupted;
        if (options_.verbose) std::fprintf(stderr, "reply corrupted\n");
        // Flip one bit of a middle byte's low character: the byte changes, so its CRC no longer holds.
        const std::size_t bytes = frame.size() / 2;
        const std::size_t k = std::uniform_int_distribution<std::size_t>(1, bytes - 2)(faults_);
        frame[2 * k] ^= 0x01;
    }
    std::vector<std::uint8_t> line;
    for (unsigned i = 0; i < options_.garbageBytes; ++i)
        line.push_back(static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 255)(faults_)));
    if (options_.doubleFrame) {
        // A short reply of responder 2, as another instrument on the line would send.
        std::uint8_t other[6] = {0x82, 0x00, 0x00, 0x55, 0, 0};
        const std::uint16_t crc = mb::crc16(other, 4);
        other[4] = static_cast<std::uint8_t>(crc);
        other[5] = static_cast<std::uint8_t>(crc >> 8);
        std::uint8_t encoded[12];
        mb::encodeFrame(other, sizeof other, encoded);
        line.insert(line.end(), encoded, encoded + sizeof encoded);
    }
    line.insert(line.end(), frame.begin(), frame.end());

    const auto now = Clock::now();
    Clock::time_point due = now;
    if (chance(options_.lateShare)) {
        ++injected_.late;
        injected_.lateCorrupted += corrupted ? 1 : 0;
        due += std::chrono::milliseconds(options_.lateMs);
    }
    // Characters leave one after another: paced ones at the line rate, split ones with their gap.
    // Paced ones reach the reader as a UART and its driver pass them on: a few at a time, each group
    // once its last character is through (a 16550's receive trigger level; a USB adapter in low-latency
    // mode hands over about as many per millisecond at 115200 bit/s).
    constexpr std::size_t kUartChunk = 8;
    std::size_t per = line.size();
    std::chrono::nanoseconds charTime{0}, gap{0};
    if (options_.baud > 0) {
        per = kUartChunk;
        charTime = std::chrono::nanoseconds(10'000'000'000LL / options_.baud);
    }
    if (options_.splitWrites) {
        gap = std::max(charTime, std::chrono::nanoseconds(std::chrono::microseconds(options_.splitGapUs)));
        per = 1;
    }
    if (options_.baud > 0) due = std::max(due, lineFree_);
    for (std::size_t at = 0; at < line.size(); at += per) {
        const std::size_t n = std::min(per, line.size() - at);
        const auto handedOver = options_.splitWrites ? due : due + charTime * static_cast<long>(n);
        outbox_.push_back({handedOver, std::vector<std::uint8_t>(line.begin() + at, line.begin() + at + n)});
        due = options_.splitWrites ? due + gap : handedOver;
    }
    lineFree_ = due;
    flushDue(now);
}

void Simulator::flushDue(Clock::time_point now) {
    while (!outbox_.empty() && outbox_.front().due <= now) {
        const Chunk& c = outbox_.front();
        // With nobody reading the line, the bytes are lost as they would be on a wire.
        writeAll(fd_, c.bytes.data(), c.bytes.size());
        outbox_.pop_front();
    }
}

void Simulator::serve(volatile std::sig_atomic_t* stop) {
    auto nextSave = Clock::now() + std::chrono::minutes(1);
    while (!*stop && !inputGone()) {
        std::optional<Clock::time_point> due;
        if (!outbox_.empty()) due = outbox_.front().due;
        runOnce(Clock::now() + std::chrono::milliseconds(200), due);
        const auto now = Clock::now();
        flushDue(now);
        if (now >= nextSave) {
            saveState(); // working time and temperature extremes
            nextSave = now + std::chrono::minutes(1);
        }
    }
    saveState();
}

} // namespace vx::sim
