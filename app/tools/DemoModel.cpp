#include "app/tools/DemoModel.h"

#include "sim/simulator.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vx::app::tools {

namespace {

// The window's end of the pair. Closing it is the model's end of file: its serving ends, and the
// thread is joined before the channel is gone.
class ModelChannel : public mb::port::FdChannel {
public:
    ~ModelChannel() override { ModelChannel::close(); }
    void close() override {
        FdChannel::close();
        if (server.joinable()) server.join();
    }
    std::thread server;
};

mb::port::OpenError failure(int error, const std::string& why) {
    mb::port::OpenError e;
    e.kind = mb::port::OpenFailure::Other;
    e.error = error;
    e.system = std::strerror(error);
    e.reason = "The demo instrument cannot start: " + why;
    return e;
}

} // namespace

std::unique_ptr<mb::port::FdChannel> openDemoModel(char variant, mb::port::OpenError* err) {
    // The very options the installed simulator is started with, read by its own parser.
    std::vector<std::string> args = mb::port::demoArguments(variant);
    args.insert(args.begin(), "vx2207-sim");
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    sim::Options options;
    bool help = false;
    std::string error;
    if (!sim::parseOptions(static_cast<int>(argv.size()), argv.data(), &options, &help, &error)) {
        if (err) *err = failure(EINVAL, error + ".");
        return nullptr;
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
        if (err) *err = failure(errno, std::string(std::strerror(errno)) + ".");
        return nullptr;
    }
    const sim::Memory memory = sim::startingMemory(options);
    auto channel = std::make_unique<ModelChannel>();
    channel->adopt(pair[0]);
    channel->server = std::thread([options, memory, fd = pair[1]] {
        // A reply written after the window closed its end must fail, not end the program.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        static volatile std::sig_atomic_t never = 0; // it ends with its input
        {
            sim::Simulator simulator(options, fd, memory, false);
            simulator.serve(&never);
        }
        ::close(fd);
    });
    return channel;
}

} // namespace vx::app::tools
