#include "sim/harness.h"

#include "link/bytechannel.h"
#include "sim/lab.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vx::sim {

SimProcess::SimProcess(const std::string& binary, const std::vector<std::string>& args, bool simulator) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    // A test that dies must not leave its simulator running.
    std::vector<std::string> all{binary};
    if (simulator) all.emplace_back("--exit-with-parent");
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out_ = pipeFds[0];
    if (rc != 0) {
        pid_ = -1;
        return;
    }
    // The first line is the device path; wait for it at most five seconds (another program, a window
    // under the sanitizers say, may take longer to get there).
    std::string line;
    const auto until = Clock::now() + std::chrono::seconds(simulator ? 5 : 30);
    while (Clock::now() < until) {
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char c;
        const ssize_t n = read(out_, &c, 1);
        if (n <= 0) break;
        if (c == '\n') {
            path_ = line;
            break;
        }
        line += c;
    }
}

int SimProcess::stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < until) {
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        ::poll(nullptr, 0, 5);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
}

SimProcess::~SimProcess() {
    stop();
    if (out_ >= 0) close(out_);
}

bool sendControl(const std::string& fifo, const std::string& line) {
    // Without a reader the open fails at once (ENXIO) instead of blocking.
    const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const std::string text = line + "\n";
    const bool ok = writeAll(fd, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    close(fd);
    return ok;
}

bool readMeter(const std::string& file, OutputLevel* out) {
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return in && parseMeterText(text, out);
}

Master::Master(const std::string& device) : LoopHost(openSerial(device)) {
    prepare();
}

Master::Master(mb::port::ByteChannel& channel) : LoopHost(channel.fd()), channel_(&channel) {
    prepare();
}

void Master::prepare() {
    engine.OnMBMasterEndOfEvent = [this](mb::TMBStatus s, const std::string& text) {
        Outcome o;
        o.status = s;
        o.text = text;
        o.ended = true;
        if (s == mb::stOK || s == mb::stSlaveError) {
            const auto& rx = engine.rxBuffer();
            o.data.assign(rx.frame() + 3, rx.frame() + 3 + rx.receivedNumber());
            o.reply = instrument::decodeReply(o.data);
        }
        ends_.push_back(std::move(o));
    };
    if (fd_ >= 0) {
        engine.portOpening();
        engine.portOpened();
    }
}

Master::~Master() {
    if (fd_ >= 0) {
        engine.OnMBMasterEndOfEvent = nullptr;
        engine.portClosing();
        if (!channel_) close(fd_);
    }
}

bool Master::readInput() {
    if (!channel_) return LoopHost::readInput();
    std::uint8_t buf[4096];
    for (;;) {
        const mb::port::ReadResult r = channel_->read(buf);
        if (r.count > 0) received(buf, r.count);
        if (r.lost) return false;
        if (r.count == 0) return true;
    }
}

bool Master::deliver(const std::uint8_t* data, std::size_t size) {
    if (!channel_) return LoopHost::deliver(data, size);
    if (!channel_->write({data, size})) return false;
    // A frame waits whole on a full socket only for a moment, as writeAll does on a tty.
    for (int waits = 0; channel_->pendingOutput() > 0 && waits < 5; ++waits) {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 10);
        channel_->flush();
    }
    return channel_->pendingOutput() == 0;
}

Outcome Master::transact(std::uint8_t command, const std::vector<std::uint8_t>& data,
                         std::chrono::milliseconds bound, std::uint16_t delayMs) {
    ends_.clear();
    engine.MBClearTXDataBuffer();
    for (std::uint8_t b : data)
        engine.MBTXPutByte(b);
    engine.setMBMasterCommandToSlave(command);
    const auto start = Clock::now();
    engine.MBMasterSend(delayMs);
    const auto until = start + bound;
    while (ends_.empty() && runOnce(until)) {
    }
    if (ends_.empty()) return {};
    Outcome o = ends_.front();
    o.elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    return o;
}

Outcome Master::exchange(const instrument::Request& request, std::chrono::milliseconds bound,
                         std::uint16_t delayMs) {
    const auto bytes = instrument::encodeRequest(request);
    return transact(instrument::kExchangeCommand, {bytes.begin(), bytes.end()}, bound, delayMs);
}

std::vector<Outcome> Master::listen(std::chrono::milliseconds duration) {
    ends_.clear();
    const auto until = Clock::now() + duration;
    while (runOnce(until)) {
    }
    return ends_;
}

} // namespace vx::sim
