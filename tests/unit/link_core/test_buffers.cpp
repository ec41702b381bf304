#include "framebuffers.h"
#include "linkengine.h"

#include <gtest/gtest.h>

#include <string>

namespace mb {
namespace {

TEST(TxBuffer, PutsAreLittleEndianAndRaiseTheDataNumber) {
    TxFrameBuffer tx;
    tx.clear();
    tx.putByte(1);
    tx.putWord(0x1234);
    EXPECT_EQ(tx.data(1), 0x01);
    EXPECT_EQ(tx.data(2), 0x34);
    EXPECT_EQ(tx.data(3), 0x12);
    EXPECT_EQ(tx.dataNumber(), 3);
    EXPECT_EQ(tx.index(), 4);

    tx.putDWord(0xA1B2C3D4);
    tx.putSingle(1.0f); // 0x3F800000
    tx.putString("ab");
    const std::uint8_t expected[] = {0xD4, 0xC3, 0xB2, 0xA1, 0x00, 0x00, 0x80, 0x3F, 'a', 'b', 0};
    for (unsigned k = 0; k < sizeof expected; ++k)
        EXPECT_EQ(tx.data(4 + k), expected[k]) << k;
    EXPECT_EQ(tx.dataNumber(), 14);
    EXPECT_EQ(tx.index(), 15);

    // Moving the index back overwrites without lowering the data number.
    tx.setIndex(2);
    tx.putByte(0xEE);
    EXPECT_EQ(tx.data(2), 0xEE);
    EXPECT_EQ(tx.dataNumber(), 14);
    EXPECT_EQ(tx.index(), 3);

    tx.clear();
    EXPECT_EQ(tx.data(2), 0);
    EXPECT_EQ(tx.dataNumber(), 0);
    EXPECT_EQ(tx.index(), 1);
}

TEST(TxBuffer, PutsAtTheEndStoreOnlyWhatFitsAndStopMovingAtTheLastIndex) {
    TxFrameBuffer tx;
    tx.setIndex(2043);
    tx.putByte(0x55); // ends exactly at the end: stored, nothing moves
    EXPECT_EQ(tx.data(2043), 0x55);
    EXPECT_EQ(tx.index(), 2043);
    EXPECT_EQ(tx.dataNumber(), 0);
    tx.putWord(0x6677); // does not fit at all
    EXPECT_EQ(tx.data(2043), 0x55);
    EXPECT_EQ(tx.index(), 2043);

    tx.setIndex(2040);
    tx.putDWord(0x01020304); // new index would be 2044: stored, index stays
    EXPECT_EQ(tx.data(2040), 0x04);
    EXPECT_EQ(tx.data(2043), 0x01);
    EXPECT_EQ(tx.index(), 2040);
    EXPECT_EQ(tx.dataNumber(), 0);

    tx.setIndex(2039);
    tx.putDWord(0xAABBCCDD); // fits with room: moves to 2043, data number 2042
    EXPECT_EQ(tx.index(), 2043);
    EXPECT_EQ(tx.dataNumber(), 2042);

    // A string far longer than the buffer is ignored whole, without wrapping any index arithmetic.
    tx.setIndex(1);
    tx.putString(std::string(70000, 'x'));
    EXPECT_EQ(tx.data(1), 0);
    EXPECT_EQ(tx.index(), 1);
    tx.setIndex(2041);
    tx.putString("ab"); // 3 bytes end exactly at the end
    EXPECT_EQ(tx.data(2043), 0);
    EXPECT_EQ(tx.data(2041), 'a');
    EXPECT_EQ(tx.index(), 2041);
}

TEST(TxBuffer, PropertyWritesClamp) {
    TxFrameBuffer tx;
    tx.setIndex(0);
    EXPECT_EQ(tx.index(), 1);
    tx.setIndex(5000);
    EXPECT_EQ(tx.index(), 2043);
    tx.setDataNumber(9999);
    EXPECT_EQ(tx.dataNumber(), 2043);
    // A maximal frame still fits the buffer with its CRC.
    EXPECT_EQ(tx.buildFrame(1, 2, 3), 2048u);
}

TEST(RxBuffer, GetsReadInOrderAndFailPastTheReceivedData) {
    RxFrameBuffer rx;
    const std::uint8_t f[] = {0x81, 0, 0, 0x01, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF};
    rx.acceptFrame(f, sizeof f); // 7 data bytes (the last two bytes stand for the CRC)
    EXPECT_EQ(rx.receivedNumber(), 7);
    EXPECT_EQ(rx.getByte(), 0x01);
    EXPECT_EQ(rx.getWord(), 0x1234);
    EXPECT_EQ(rx.getDWord(), 0x12345678u);
    EXPECT_EQ(rx.index(), 8);
    EXPECT_EQ(rx.getByte(), 0); // past the data
    EXPECT_EQ(rx.index(), 8);

    rx.setIndex(7);
    EXPECT_EQ(rx.getWord(), 0); // index = received number: a word does not fit
    EXPECT_EQ(rx.index(), 7);
    EXPECT_EQ(rx.getByte(), 0x12);

    rx.setIndex(4);
    EXPECT_EQ(rx.getLongInt(), 0x12345678);
    rx.setIndex(5);
    EXPECT_EQ(rx.getSingle(), 0.0f); // needs bytes 5..8
    EXPECT_EQ(rx.index(), 5);

    const std::uint8_t empty[] = {0x81, 0, 0, 0xAA, 0xBB};
    rx.acceptFrame(empty, sizeof empty);
    EXPECT_EQ(rx.receivedNumber(), 0);
    EXPECT_EQ(rx.index(), 1);
    EXPECT_EQ(rx.getByte(), 0);
    EXPECT_EQ(rx.getDWord(), 0u);

    rx.setIndex(0);
    EXPECT_EQ(rx.index(), 1);
    rx.setIndex(3000);
    EXPECT_EQ(rx.index(), 2043);
}

TEST(RxBuffer, GetsNearTheLastIndexStayInsideTheBuffer) {
    RxFrameBuffer rx;
    std::vector<std::uint8_t> raw(2048);
    for (std::size_t k = 0; k < raw.size(); ++k)
        raw[k] = static_cast<std::uint8_t>(k + 1);
    rx.storeRaw(raw.data(), raw.size());
    EXPECT_EQ(rx.receivedNumber(), 2048);
    rx.setIndex(2043);
    const std::uint32_t v = rx.getDWord();
    EXPECT_EQ(v & 0xFF, static_cast<std::uint8_t>(2043));
    EXPECT_EQ(rx.index(), 2043); // 2047 is beyond the last index, so it stays
}

} // namespace
} // namespace mb
