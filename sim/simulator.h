#pragma once
// vx2207-sim's options and its serving loop: the link engine in responder mode on a pseudo-terminal,
// the instrument model behind command 1, and fault injection on the way out.
#include "sim/lab.h"
#include "sim/model.h"
#include "sim/ptyloop.h"
#include "sim/scpibench.h"

#include <csignal>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace vx::sim {

struct Options {
    ModelConfig model;
    std::string link;        // symbolic link to the device, if any
    std::string stateFile;   // memory kept between runs, if any
    std::string meterFile;   // the output meter's reading, rewritten after every reply, if any
    std::string controlPath; // the calibrator's control FIFO, if any
    std::string scpiMeter;   // where the SCPI meter listens (tcp:PORT or a link path), if anywhere
    std::string scpiSource;  // where the SCPI source listens, if anywhere
    MeterOptions meter;
    bool verbose = false;
    bool calibrated = false; // start as calibrated at the factory (no state file yet)
    bool exitWithParent = false;
    // Faults.
    bool silent = false;
    double dropShare = 0.0;
    double corruptShare = 0.0;
    int slaveError = 0; // 0 = none
    double slaveErrorShare = 1.0;
    unsigned delayMs = 0;
    double lateShare = 0.0;
    unsigned lateMs = 1200;
    unsigned garbageBytes = 0;
    bool splitWrites = false;
    unsigned splitGapUs = 500;
    bool doubleFrame = false;
    unsigned baud = 0; // 0 = not paced
    int tcpPort = -1;  // listen on this loopback TCP port instead of a pseudo-terminal (0: any free one)
};

std::string usageText();
// Parses the command line. False with *error set for a bad option; *help set for --help.
bool parseOptions(int argc, const char* const* argv, Options* options, bool* help, std::string* error);
// The unit's memory as the options start it (calibrated or from the factory), before any state file.
Memory startingMemory(const Options& options);
// Every option parseOptions takes, long and short forms.
std::vector<std::string_view> optionNames();

// Error numbers this instrument puts in the reply's status byte for requests it cannot serve.
inline constexpr std::uint8_t kErrorUnknownCommand = 130;
inline constexpr std::uint8_t kErrorBadLength = 131;

// The longest control line taken; longer ones are dropped.
inline constexpr std::size_t kMaxControlLine = 256;

// --control PATH: makes the FIFO (an existing FIFO is taken over, anything else refused) and opens it
// read-write and non-blocking, so writers coming and going never give end of file. -1 with *error set.
int openControlFifo(const std::string& path, std::string* error);
// Closes it and removes PATH while it is still that FIFO.
void closeControlFifo(int fd, const std::string& path);

// What the fault injection did to the replies so far; a corrupted reply may also have been late.
struct InjectedFaults {
    std::uint64_t dropped = 0, corrupted = 0, late = 0, lateCorrupted = 0;
};

class Simulator : public LoopHost {
public:
    // controlFd: the calibrator's control channel (openControlFifo), or -1.
    Simulator(const Options& options, int fd, const Memory& memory, bool framError, int controlFd = -1);
    // Opens the SCPI meter and source where the options put them. False with *error set.
    bool openBench(std::string* error);
    // "meter: PLACE" and "source: PLACE" lines, one per instrument opened.
    std::string benchPlaces() const;
    // Writes the meter file (when asked for) with the output as it is now. False if it cannot.
    bool writeMeter();
    // Serves until *stop becomes non-zero (a signal handler sets it).
    void serve(volatile std::sig_atomic_t* stop);
    InstrumentModel& model() { return model_; }
    std::uint64_t repliesSent() const { return replies_; }
    const InjectedFaults& injected() const { return injected_; }

protected:
    bool deliver(const std::uint8_t* data, std::size_t size) override;
    void writesDone() override;
    void received(const std::uint8_t* data, std::size_t size) override;
    void extraReadable() override;
    void alsoReadable(int fd) override;

private:
    struct Chunk {
        Clock::time_point due;
        std::vector<std::uint8_t> bytes;
    };
    void onCommand(std::uint8_t command, std::uint16_t dataNumber);
    void schedule(std::vector<std::uint8_t> frame);
    void flushDue(Clock::time_point now);
    bool chance(double share);
    void saveState();
    void control(const LineSplitter::Line& line);

    Options options_;
    InstrumentModel model_;
    Clock::time_point start_ = Clock::now();
    std::mt19937 faults_;
    std::vector<std::uint8_t> collecting_; // the reply frame the engine is writing
    std::deque<Chunk> outbox_;
    Clock::time_point lineFree_ = Clock::now(); // when paced output has left the line
    std::uint64_t replies_ = 0;
    int control_ = -1;
    LineSplitter controlLines_{kMaxControlLine};
    bool meterFailed_ = false; // reported once until a write succeeds again

    InjectedFaults injected_;
    std::unique_ptr<ScpiPort> scpiMeter_, scpiSource_;
};

} // namespace vx::sim
