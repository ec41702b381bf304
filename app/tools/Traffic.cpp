#include "app/tools/Traffic.h"

#include "app/tools/CsvRecorder.h"

#include <algorithm>
#include <cstdio>

namespace vx::app::tools {

namespace ins = vx::instrument;

TrafficRing::TrafficRing(std::size_t capacity) : slots_(std::max<std::size_t>(capacity, 1)) {}

void TrafficRing::push(const LinkExchange& e) {
    // A full ring overwrites its oldest slot; the slot's buffers are reused, so a running monitor
    // allocates nothing once the ring has gone round.
    RecordedExchange& r = slots_[(head_ + size_) % slots_.size()];
    if (size_ == slots_.size())
        head_ = (head_ + 1) % slots_.size();
    else
        ++size_;
    r.number = next_++;
    r.wallMs = e.wallMs;
    r.roundTripUs = e.roundTripUs;
    r.outcome = e.outcome;
    r.slaveError = e.slaveError;
    r.attempt = e.attempt;
    r.requestLength = static_cast<std::uint16_t>(std::min<std::size_t>(e.request.size(), 0xFFFF));
    r.replyLength = static_cast<std::uint16_t>(std::min<std::size_t>(e.reply.size(), 0xFFFF));
    const auto keep = [](std::vector<std::uint8_t>& to, std::span<const std::uint8_t> from) {
        to.assign(from.begin(),
                  from.begin() + static_cast<std::ptrdiff_t>(std::min(from.size(), kKeptFrameBytes)));
    };
    keep(r.request, e.request);
    keep(r.reply, e.reply);
}

void TrafficRing::clear() {
    head_ = (head_ + size_) % slots_.size();
    size_ = 0;
}

const RecordedExchange* TrafficRing::byNumber(std::uint64_t number) const {
    if (number < firstNumber() || number >= next_) return nullptr;
    return &at(static_cast<std::size_t>(number - firstNumber()));
}

std::string outcomeText(Outcome outcome, std::uint8_t slaveError) {
    switch (outcome) {
    case Outcome::Ok:
        return "OK";
    case Outcome::TimeOut:
        return "time-out";
    case Outcome::CrcError:
        return "CRC error";
    case Outcome::SlaveError:
        return "slave error " + std::to_string(slaveError);
    case Outcome::ClosedPort:
        return "closed port";
    }
    return {};
}

std::string hexLines(std::span<const std::uint8_t> bytes) {
    std::string out;
    char buf[24];
    for (std::size_t line = 0; line < bytes.size(); line += 16) {
        if (line) out += '\n';
        std::snprintf(buf, sizeof buf, "%04zx ", line & 0xffff);
        out += buf;
        const std::size_t end = std::min(bytes.size(), line + 16);
        for (std::size_t i = line; i < end; ++i) {
            std::snprintf(buf, sizeof buf, " %02x", bytes[i]);
            out += buf;
        }
        // The text column lines up under the full lines' even when the last line is short.
        out.append(3 * (line + 16 - end) + 2, ' ');
        out += '|';
        for (std::size_t i = line; i < end; ++i)
            out += bytes[i] >= 0x20 && bytes[i] < 0x7f ? static_cast<char>(bytes[i]) : '.';
        out += '|';
    }
    return out;
}

FrameHeader requestHeader(const RecordedExchange& e) {
    if (e.request.size() < 3) return {};
    return {e.request[0] & 0x0F, e.request[2]};
}

namespace {

std::string number(unsigned v) {
    return std::to_string(v);
}

// Header (three bytes), data, CRC (two): the data is what the instrument's layouts describe.
DecodedFrame decodeFrame(std::span<const std::uint8_t> f, std::size_t length, const char* thirdByte,
                         std::vector<ins::NamedField> (*fields)(std::span<const std::uint8_t>)) {
    DecodedFrame d;
    d.truncated = f.size() < length;
    if (f.size() < 5) return d;
    d.header = {{"Address", number(f[0] & 0x0F)}, {"ID", number(f[1])}, {thirdByte, number(f[2])}};
    if (!d.truncated) {
        char crc[8];
        std::snprintf(crc, sizeof crc, "%04x", f[f.size() - 2] | (f[f.size() - 1] << 8));
        d.header.push_back({"CRC", crc});
    }
    const std::size_t dataEnd = d.truncated ? f.size() : f.size() - 2;
    if (dataEnd > 3) d.fields = fields(f.subspan(3, dataEnd - 3));
    return d;
}

} // namespace

DecodedFrame decodeRequestFrame(const RecordedExchange& e) {
    return decodeFrame(e.request, e.requestLength, "Command", [](std::span<const std::uint8_t> b) {
        return ins::requestFields(ins::decodeRequest(b));
    });
}

DecodedFrame decodeReplyFrame(const RecordedExchange& e) {
    return decodeFrame(e.reply, e.replyLength, "Status",
                       [](std::span<const std::uint8_t> b) { return ins::replyFields(ins::decodeReply(b)); });
}

std::string exchangeText(const RecordedExchange& e) {
    std::string s = "#" + std::to_string(e.number) + "  " + isoLocalTime(e.wallMs) + "  attempt " +
                    (e.attempt ? std::to_string(e.attempt) : std::string("-")) + "  " +
                    outcomeText(e.outcome, e.slaveError) + "  request " + std::to_string(e.requestLength) +
                    " B  reply " + std::to_string(e.replyLength) + " B";
    if (e.roundTripUs >= 0) {
        char rtt[64];
        std::snprintf(rtt, sizeof rtt, "  round trip %lld.%03lld ms",
                      static_cast<long long>(e.roundTripUs / 1000),
                      static_cast<long long>(e.roundTripUs % 1000));
        s += rtt;
    }
    s += '\n';
    const auto frame = [&s](const char* mark, const std::vector<std::uint8_t>& f) {
        if (f.empty()) return;
        std::string hex = hexLines(f);
        s += mark;
        for (char c : hex) {
            s += c;
            if (c == '\n') s += mark;
        }
        s += '\n';
    };
    frame("  > ", e.request);
    frame("  < ", e.reply);
    return s;
}

} // namespace vx::app::tools
