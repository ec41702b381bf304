// The Telnet COM Port Control client: what it answers, what data it passes, what it learns, fed whole
// and one byte at a time.
#include "link/core/rfc2217.h"

#include <gtest/gtest.h>

using namespace mb::rfc2217;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes sub(std::uint8_t code, Bytes value) {
    Bytes b{kIac, kSb, kComPort, code};
    escape(value, b);
    b.insert(b.end(), {kIac, kSe});
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// What the client sends once the server takes the option, at 9600 bit/s.
const Bytes kSettings =
    cat({sub(kSetBaudRate, {0, 0, 0x25, 0x80}), sub(kSetDataSize, {8}), sub(kSetParity, {1}),
         sub(kSetStopSize, {1}), sub(kSetControl, {1}), sub(kSetControl, {9}), sub(kSetControl, {12}),
         sub(kSetModemStateMask, {0x88}), sub(kPurgeData, {3})});

struct Row {
    const char* name;
    Bytes in, reply, data;
    std::optional<std::uint32_t> baud = {};
    std::uint8_t modem = 0;
    bool ready = false, refused = false;
};

const Row kRows[] = {
    {"confirmations of our offers need no answer",
     {kIac, kWill, kBinary, kIac, kDo, kSuppressGoAhead},
     {},
     {}},
    {"the server's echo and other options are declined",
     {kIac, kWill, 1, kIac, kDo, 24},
     {kIac, kDont, 1, kIac, kWont, 24},
     {}},
    {"taking COM-PORT sends the line settings and the purge", {kIac, kDo, kComPort}, kSettings, {}},
    {"declining COM-PORT marks the server as no RFC 2217 one",
     {kIac, kDont, kComPort},
     {},
     {},
     {},
     0,
     false,
     true},
    {"data passes, a doubled IAC is one 0xFF, NOP vanishes",
     {'A', kIac, kIac, kIac, 241, 'B'},
     {},
     {'A', 0xFF, 'B'}},
    {"the server's baud answer, an escaped IAC in it",
     cat({{'x'}, sub(kSetBaudRate + kServerOffset, {0, 0, 0xFF, 0xFF}), {'y'}}),
     {},
     {'x', 'y'},
     65535u},
    {"modem-state notices are kept", sub(kNotifyModemState + kServerOffset, {0x88}), {}, {}, {}, 0x88},
    {"the purge answer alone is not ready", sub(kPurgeData + kServerOffset, {3}), {}, {}},
    {"the purge and rate answers make the line ready",
     cat({sub(kPurgeData + kServerOffset, {3}), sub(kSetBaudRate + kServerOffset, {0, 0, 0x25, 0x80})}),
     {},
     {},
     9600u,
     0,
     true},
    {"an overlong subnegotiation is dropped whole",
     cat({sub(kSetBaudRate + kServerOffset, Bytes(40, 7)), {'z'}}),
     {},
     {'z'}},
    {"a client's own command code from the server means nothing", sub(kSetBaudRate, {0, 0, 0, 1}), {}, {}},
};

} // namespace

TEST(Rfc2217, AnswersPassesAndLearnsWholeOrByteByByte) {
    for (const Row& row : kRows) {
        for (bool split : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (split ? ", byte by byte" : ""));
            Client c(9600);
            c.start();
            Bytes reply, data;
            for (std::size_t at = 0; at < row.in.size();) {
                const std::size_t n = split ? 1 : row.in.size();
                Bytes chunk(row.in.begin() + static_cast<long>(at),
                            row.in.begin() + static_cast<long>(at + n));
                chunk.resize(c.receive(chunk, reply));
                data.insert(data.end(), chunk.begin(), chunk.end());
                at += n;
            }
            EXPECT_EQ(reply, row.reply);
            EXPECT_EQ(data, row.data);
            EXPECT_EQ(c.serverBaud(), row.baud);
            EXPECT_EQ(c.modemState(), row.modem);
            EXPECT_EQ(c.ready(), row.ready);
            EXPECT_EQ(c.refused(), row.refused);
        }
    }
}

TEST(Rfc2217, OffersOnceAndNeverLoopsOnRepeatedRequests) {
    Client c(115200);
    EXPECT_EQ(c.start(), (Bytes{kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kSuppressGoAhead, kIac,
                                kDo, kSuppressGoAhead, kIac, kWill, kComPort}));
    Bytes twice{kIac, kDo, kComPort, kIac, kDo, kComPort, kIac, kWont, kBinary, kIac, kWont, kBinary};
    Bytes reply;
    c.receive(twice, reply);
    // Settings once; the second DO and the repeated WONT change nothing, so nothing more is said.
    ASSERT_GE(reply.size(), 8u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 8),
              (Bytes{kIac, kSb, kComPort, kSetBaudRate, 0, 1, 0xC2, 0}));
    EXPECT_EQ(reply.size(), kSettings.size());
    EXPECT_TRUE(c.accepted());

    const Bytes out = [] {
        Bytes b;
        escape(Bytes{1, 0xFF, 2}, b);
        return b;
    }();
    EXPECT_EQ(out, (Bytes{1, 0xFF, 0xFF, 2}));
}
