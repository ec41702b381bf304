#pragma once
// The traffic monitor's data: one record per attempt on the link (a request and what came of it), the
// last kCapacity of them in a ring of fixed size, and the readable form of a record (fields by name,
// frames in hex). Pure: no Qt, no clock.
#include "instrument/exchange.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vx::app::tools {

enum class Outcome : std::uint8_t { Ok, TimeOut, CrcError, SlaveError, ClosedPort };

// What the link knew when an attempt ended, as the window hands it over. The frames are only borrowed
// for the call.
struct LinkExchange {
    std::int64_t wallMs = 0;       // when it ended, ms since the epoch
    std::int64_t roundTripUs = -1; // from the request's writing to the end; -1: nothing was sent
    Outcome outcome = Outcome::Ok;
    std::uint8_t slaveError = 0;           // the error number with SlaveError
    std::uint8_t attempt = 0;              // 1.. within its transaction; 0: nothing was sent
    std::span<const std::uint8_t> request; // whole frames: header, data, CRC
    std::span<const std::uint8_t> reply;
};

struct RecordedExchange {
    std::uint64_t number = 0; // counts from 1 since the program started; never reused
    std::int64_t wallMs = 0;
    std::int64_t roundTripUs = -1;
    Outcome outcome = Outcome::Ok;
    std::uint8_t slaveError = 0;
    std::uint8_t attempt = 0;
    std::uint16_t requestLength = 0, replyLength = 0; // as on the line
    std::vector<std::uint8_t> request, reply;         // at most kKeptFrameBytes of each

    bool failed() const { return outcome != Outcome::Ok; }
};

class TrafficRing {
public:
    static constexpr std::size_t kCapacity = 10'000;
    // The instrument's frames are 107 and 98 bytes; a longer one keeps its start.
    static constexpr std::size_t kKeptFrameBytes = 256;

    explicit TrafficRing(std::size_t capacity = kCapacity);

    void push(const LinkExchange& e);
    void clear(); // numbering goes on

    std::size_t size() const { return size_; }
    // i = 0 is the oldest held.
    const RecordedExchange& at(std::size_t i) const { return slots_[(head_ + i) % slots_.size()]; }
    // Numbers of the oldest held and of the next to come; by number, nullptr once it has left.
    std::uint64_t firstNumber() const { return next_ - size_; }
    std::uint64_t nextNumber() const { return next_; }
    const RecordedExchange* byNumber(std::uint64_t number) const;

private:
    std::vector<RecordedExchange> slots_;
    std::size_t head_ = 0, size_ = 0;
    std::uint64_t next_ = 1;
};

// "OK", "time-out", "CRC error", "slave error 130", "closed port".
std::string outcomeText(Outcome outcome, std::uint8_t slaveError);
// "0000  81 00 01 ...  |...|": sixteen bytes a line after their offset, then the same bytes as ASCII
// (a full stop for anything not printable).
std::string hexLines(std::span<const std::uint8_t> bytes);

// Whom a request was for and what it asked (the command byte); -1 where the frame is too short.
struct FrameHeader {
    int address = -1;
    int function = -1;
};
FrameHeader requestHeader(const RecordedExchange& e);

// A recorded exchange taken apart: the frames' headers and CRCs, the request's and the reply's fields
// by name. A frame too short for its header gives no fields.
struct DecodedFrame {
    std::vector<instrument::NamedField> header; // address, id, command or status, CRC
    std::vector<instrument::NamedField> fields;
    bool truncated = false; // only its start was kept
};
DecodedFrame decodeRequestFrame(const RecordedExchange& e);
DecodedFrame decodeReplyFrame(const RecordedExchange& e);

// The monitor's text file: one block per exchange, its summary line, the frames in hex.
std::string exchangeText(const RecordedExchange& e);

} // namespace vx::app::tools
