#include "link/core/rfc2217.h"

namespace mb::rfc2217 {

void escape(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out) {
    for (std::uint8_t b : bytes) {
        out.push_back(b);
        if (b == kIac) out.push_back(kIac);
    }
}

std::vector<std::uint8_t> Client::start() {
    std::vector<std::uint8_t> out;
    for (std::uint8_t o : {kBinary, kSuppressGoAhead, kComPort}) {
        out.insert(out.end(), {kIac, kWill, o});
        options_[o].askedUs = true;
        // The server's side of COM-PORT is its answer to our WILL; binary and no go-ahead go both ways.
        if (o == kComPort) continue;
        out.insert(out.end(), {kIac, kDo, o});
        options_[o].askedHim = true;
    }
    return out;
}

std::size_t Client::receive(std::span<std::uint8_t> bytes, std::vector<std::uint8_t>& reply) {
    std::size_t n = 0;
    for (std::uint8_t b : bytes) {
        switch (parse_) {
        case Parse::Data:
            if (b == kIac)
                parse_ = Parse::Iac;
            else
                bytes[n++] = b;
            break;
        case Parse::Iac:
            parse_ = Parse::Data;
            if (b == kIac) {
                bytes[n++] = b;
            } else if (b >= kWill && b <= kDont) {
                verb_ = b;
                parse_ = Parse::Verb;
            } else if (b == kSb) {
                sub_.clear();
                subOverflow_ = false;
                parse_ = Parse::Sub;
            } // other two-byte commands (NOP, go-ahead, ...) mean nothing to a serial line
            break;
        case Parse::Verb:
            negotiate(verb_, b, reply);
            parse_ = Parse::Data;
            break;
        case Parse::Sub:
            if (b == kIac) {
                parse_ = Parse::SubIac;
            } else if (sub_.size() < kMaxSub) {
                sub_.push_back(b);
            } else {
                subOverflow_ = true;
            }
            break;
        case Parse::SubIac:
            if (b == kIac) {
                if (sub_.size() < kMaxSub)
                    sub_.push_back(b);
                else
                    subOverflow_ = true;
                parse_ = Parse::Sub;
                break;
            }
            // IAC SE ends it; anything else after IAC is a broken subnegotiation, dropped the same way.
            if (b == kSe && !subOverflow_) subnegotiation();
            parse_ = Parse::Data;
            break;
        }
    }
    return n;
}

// Answers follow RFC 1143's rule: reply only when the option's state changes, so two ends that both
// insist never loop.
void Client::negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& reply) {
    Option& o = options_[option];
    switch (verb) {
    case kWill:
        if (!wanted(option)) {
            reply.insert(reply.end(), {kIac, kDont, option});
        } else {
            if (!o.him && !o.askedHim) reply.insert(reply.end(), {kIac, kDo, option});
            o.him = true;
            o.askedHim = false;
        }
        break;
    case kWont:
        if (o.him && !o.askedHim) reply.insert(reply.end(), {kIac, kDont, option});
        o.him = o.askedHim = false;
        break;
    case kDo:
        if (!wanted(option)) {
            reply.insert(reply.end(), {kIac, kWont, option});
            break;
        }
        if (!o.us && !o.askedUs) reply.insert(reply.end(), {kIac, kWill, option});
        o.us = true;
        o.askedUs = false;
        if (option == kComPort && !settingsSent_) sendSettings(reply);
        break;
    case kDont:
        if (o.us && !o.askedUs) reply.insert(reply.end(), {kIac, kWont, option});
        o.us = o.askedUs = false;
        if (option == kComPort) refused_ = true;
        break;
    default:
        break;
    }
}

void Client::command(std::vector<std::uint8_t>& out, std::uint8_t code, std::span<const std::uint8_t> value) {
    out.insert(out.end(), {kIac, kSb, kComPort, code});
    escape(value, out);
    out.insert(out.end(), {kIac, kSe});
}

void Client::sendSettings(std::vector<std::uint8_t>& out) {
    const std::uint8_t baud[4] = {static_cast<std::uint8_t>(baud_ >> 24),
                                  static_cast<std::uint8_t>(baud_ >> 16),
                                  static_cast<std::uint8_t>(baud_ >> 8), static_cast<std::uint8_t>(baud_)};
    command(out, kSetBaudRate, baud);
    command(out, kSetDataSize, std::span(&dataSize_, 1));
    const std::uint8_t parity = kParityNone, stop = kStopOne,
                       modemMask = kModemCarrier | kModemCarrierChanged;
    command(out, kSetParity, std::span(&parity, 1));
    command(out, kSetStopSize, std::span(&stop, 1));
    for (std::uint8_t c : {kControlNoFlow, kControlDtrOff, kControlRtsOff})
        command(out, kSetControl, std::span(&c, 1));
    command(out, kSetModemStateMask, std::span(&modemMask, 1));
    // Whatever the server's port held from before this connection must not reach the decoder.
    const std::uint8_t purge = kPurgeBoth;
    command(out, kPurgeData, std::span(&purge, 1));
    settingsSent_ = true;
}

void Client::subnegotiation() {
    if (sub_.size() < 2 || sub_[0] != kComPort || sub_[1] < kServerOffset) return;
    const std::span<const std::uint8_t> value(sub_.begin() + 2, sub_.end());
    switch (sub_[1] - kServerOffset) {
    case kSetBaudRate:
        if (value.size() == 4)
            serverBaud_ = (std::uint32_t{value[0]} << 24) | (std::uint32_t{value[1]} << 16) |
                          (std::uint32_t{value[2]} << 8) | value[3];
        break;
    case kSetDataSize:
        if (value.size() == 1) serverDataSize_ = value[0];
        break;
    case kNotifyModemState:
        // The link runs on data alone; the state is kept for whoever wants to show it.
        if (value.size() == 1) {
            modemState_ = value[0];
            ++modemNotices_;
        }
        break;
    case kPurgeData:
        purged_ = true;
        break;
    default:
        break;
    }
}

} // namespace mb::rfc2217
