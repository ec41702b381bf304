#include "fakehost.h"

#include <gtest/gtest.h>

#include <cstring>

namespace mb::test {
namespace {

TEST(Crc16, MatchesTheCheckValueAndTheBitwiseDefinition) {
    const char* digits = "123456789";
    EXPECT_EQ(crc16(reinterpret_cast<const std::uint8_t*>(digits), 9), 0x4B37);
    EXPECT_EQ(crc16(nullptr, 0), 0xFFFF);
    // Every length 0..40 against the bit-by-bit algorithm, so the four-byte steps and the tail agree.
    std::vector<std::uint8_t> data(40);
    for (std::size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<std::uint8_t>(k * 37 + 11);
    for (std::size_t n = 0; n <= data.size(); ++n) {
        std::uint16_t r = 0xFFFF;
        for (std::size_t k = 0; k < n; ++k) {
            r ^= data[k];
            for (int b = 0; b < 8; ++b)
                r = (r & 1) ? static_cast<std::uint16_t>((r >> 1) ^ 0xA001) : r >> 1;
        }
        EXPECT_EQ(crc16(data.data(), n), r) << n;
    }
}

TEST(LineCode, MarksTheFirstAndLastBytes) {
    EXPECT_EQ(encodeByte(0x02, BytePosition::First), (std::array<std::uint8_t, 2>{0x02, 0xC0}));
    EXPECT_EQ(encodeByte(0xAB, BytePosition::Middle), (std::array<std::uint8_t, 2>{0x0B, 0x4A}));
    EXPECT_EQ(encodeByte(0xF7, BytePosition::Last), (std::array<std::uint8_t, 2>{0x07, 0x6F}));
}

class Decoding : public ::testing::Test {
protected:
    void SetUp() override {
        engine.setMBMasterAddressToSlave(2);
        engine.portOpening();
        engine.OnMBMasterEndOfEvent = [this](TMBStatus s, const std::string&) { ends.push_back(s); };
    }
    FakeHost host;
    LinkEngine engine{host};
    std::vector<TMBStatus> ends;
    const std::vector<std::uint8_t> reply = frame({0x82, 0x00, 0x00, 0x11, 0x22, 0x33});
};

TEST_F(Decoding, AcceptsAFrameWholeByCharacterAcrossHandOversAndAfterJunk) {
    const auto chars = encode(reply);
    feed(engine, chars);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(engine.MBReceivedDataNumber(), 3);
    EXPECT_EQ(engine.MBRXGetByte(), 0x11);

    for (std::uint8_t c : chars)
        engine.bytesReceived(&c, 1);
    EXPECT_EQ(ends.size(), 2u);

    for (std::size_t cut = 1; cut < chars.size(); cut += 3) {
        engine.bytesReceived(chars.data(), cut);
        engine.bytesReceived(chars.data() + cut, chars.size() - cut);
    }
    EXPECT_EQ(ends.size(), 2u + (chars.size() - 1 + 2) / 3);

    std::vector<std::uint8_t> junk = {0x4F, 0x6F, 0x00, 0xFF, 0xC1, 0x01, 0x40, 0x7F, 0x33};
    junk.insert(junk.end(), chars.begin(), chars.end());
    const auto before = ends.size();
    feed(engine, junk);
    EXPECT_EQ(ends.size(), before + 1);
    EXPECT_TRUE(std::all_of(ends.begin(), ends.end(), [](TMBStatus s) { return s == stOK; }));
}

TEST_F(Decoding, DiscardsCorruptedShortAndForeignFramesAndRecovers) {
    engine.MBMasterSend(0);
    ASSERT_EQ(engine.MBStatusNow(), stnWaitingForAnswer);

    auto swapped = reply;
    std::swap(swapped[swapped.size() - 1], swapped[swapped.size() - 2]);
    feed(engine, encode(swapped));
    EXPECT_TRUE(ends.empty());
    EXPECT_EQ(engine.MBStatusNow(), stnWaitingForAnswer);
    EXPECT_EQ(engine.MBNumberOfReceivedBytes(), 0);
    EXPECT_TRUE(host.running(LinkTimer::TimeOut));

    // End character after four bytes.
    auto shortChars = encode(reply);
    shortChars.resize(8);
    shortChars.back() |= 0x20;
    feed(engine, shortChars);
    EXPECT_TRUE(ends.empty());
    EXPECT_EQ(engine.MBNumberOfReceivedBytes(), 0);

    // A reply from address 3 resets; its following characters are dropped, not assembled.
    auto foreign = encode(frame({0x83, 0, 0, 1}));
    feed(engine, {foreign.begin(), foreign.begin() + 4});
    EXPECT_EQ(engine.MBNumberOfReceivedBytes(), 0);
    EXPECT_EQ(engine.MBStatusNow(), stnWaitingForAnswer);
    // A request-shaped start (bit 7 clear) is no reply either.
    feed(engine, encode(frame({0x02, 0, 1})));
    EXPECT_TRUE(ends.empty());

    // An interleaved second start restarts the frame: only the later one counts.
    auto first = encode(reply);
    std::vector<std::uint8_t> mixed(first.begin(), first.begin() + 6);
    auto again = encode(reply);
    mixed.insert(mixed.end(), again.begin(), again.end());
    feed(engine, mixed);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0], stOK);
    EXPECT_EQ(engine.MBReceivedDataNumber(), 3);
}

TEST_F(Decoding, HighCharactersReuseThePendingNibble) {
    // 0x82 as start, then two high characters after one low: both take the low nibble 0x1.
    std::vector<std::uint8_t> body = {0x82, 0x00, 0x00, 0x11, 0x21};
    auto f = frame(body);
    auto chars = encode(f);
    // Replace the low character of byte 4 (0x21) by nothing: byte 3's low nibble (1) is reused.
    std::vector<std::uint8_t> edited(chars.begin(), chars.begin() + 8);
    edited.push_back(0x42);                                       // byte 0x21 from pending 0x1
    edited.insert(edited.end(), chars.begin() + 10, chars.end()); // CRC bytes
    feed(engine, edited);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(engine.rxBuffer().data(2), 0x21);
}

TEST_F(Decoding, OversizedFrameIsBoundedAndTheNextFrameIsAccepted) {
    std::vector<std::uint8_t> big = {0x82, 0, 0};
    big.resize(2100, 0x5A);
    auto chars = encode(frame(big));
    engine.bytesReceived(chars.data(), chars.size() - 2);
    EXPECT_TRUE(engine.MBRxBufferFull());
    EXPECT_EQ(engine.MBNumberOfReceivedBytes(), 2048);
    engine.bytesReceived(chars.data() + chars.size() - 2, 2); // end check fails on stored bytes
    EXPECT_FALSE(engine.MBRxBufferFull());
    EXPECT_EQ(engine.MBNumberOfReceivedBytes(), 0);
    EXPECT_TRUE(ends.empty());

    // Exactly 2048 stored bytes followed by more: the end check uses the last two stored bytes.
    std::vector<std::uint8_t> exact = {0x82, 0, 0};
    exact.resize(2046, 0x11);
    auto good = frame(exact); // 2048 bytes
    auto goodChars = encode(good);
    goodChars[goodChars.size() - 1] &= ~0x20; // not yet the end
    std::vector<std::uint8_t> tail = encode({0x99, 0x77});
    tail[1] &= ~0x80;
    tail[3] |= 0x20;
    goodChars.insert(goodChars.end(), tail.begin(), tail.end());
    feed(engine, goodChars);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(engine.MBReceivedDataNumber(), 2043);

    feed(engine, encode(reply));
    EXPECT_EQ(ends.size(), 2u);
    EXPECT_EQ(engine.MBReceivedDataNumber(), 3);
}

TEST_F(Decoding, StrayEndCharacterWhileIdleOnlyChangesTheLiveState) {
    EXPECT_EQ(engine.MBStatusNow(), stnReady);
    const std::uint8_t stray = 0x61;
    engine.bytesReceived(&stray, 1);
    EXPECT_EQ(engine.MBStatusNow(), stnWaitingForAnswer);
    EXPECT_TRUE(ends.empty());
    // Nothing is decoded while the port is closed.
    engine.portClosing();
    feed(engine, encode(reply));
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 0u);
}

} // namespace
} // namespace mb::test
