// CRC, encoding and decoding of the exchange's frames: a 102-byte-payload request and a 93-byte-payload
// reply (98 frame bytes, 196 characters).
#include "crc16.h"
#include "linecode.h"
#include "linkengine.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

class NullHost : public mb::LinkHost {
public:
    bool write(const std::uint8_t*, std::size_t) override { return true; }
    void startTimer(mb::LinkTimer, unsigned) override {}
    void stopTimer(mb::LinkTimer) override {}
};

std::vector<std::uint8_t> makeFrame(std::uint8_t b0, std::size_t payload) {
    std::vector<std::uint8_t> f = {b0, 0, 1};
    for (std::size_t k = 0; k < payload; ++k)
        f.push_back(static_cast<std::uint8_t>(k * 31 + 7));
    const std::uint16_t crc = mb::crc16(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(crc));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    return f;
}

void BM_Crc16(benchmark::State& state) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(state.range(0)));
    for (std::size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<std::uint8_t>(k);
    for (auto _ : state)
        benchmark::DoNotOptimize(mb::crc16(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc16)->Arg(105)->Arg(2046);

void BM_EncodeRequest(benchmark::State& state) {
    const auto f = makeFrame(0x01, 102);
    std::vector<std::uint8_t> out(2 * f.size());
    for (auto _ : state) {
        mb::encodeFrame(f.data(), f.size(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_EncodeRequest);

// The engine's whole send path: header, CRC and one write per frame byte.
void BM_SendRequest(benchmark::State& state) {
    NullHost host;
    mb::LinkEngine e(host);
    e.portOpening();
    for (int k = 0; k < 102; ++k)
        e.MBTXPutByte(static_cast<std::uint8_t>(k));
    for (auto _ : state)
        e.MBMasterSend(0);
}
BENCHMARK(BM_SendRequest);

// Decoding one reply frame in one hand-over, up to its acceptance into the RX buffer.
void BM_DecodeReply(benchmark::State& state) {
    NullHost host;
    mb::LinkEngine e(host);
    e.portOpening();
    std::vector<std::uint8_t> chars(2 * 98);
    const auto f = makeFrame(0x81, 93);
    mb::encodeFrame(f.data(), f.size(), chars.data());
    for (auto _ : state) {
        e.bytesReceived(chars.data(), chars.size());
        benchmark::DoNotOptimize(e.MBReceivedDataNumber());
    }
    if (e.MBNumberOfRxFrames() != state.iterations()) state.SkipWithError("reply not accepted");
}
BENCHMARK(BM_DecodeReply);

} // namespace

BENCHMARK_MAIN();
