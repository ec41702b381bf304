#pragma once
// The client side of Telnet COM Port Control (RFC 2217), as far as the link needs it: the Telnet
// option handshake (binary both ways, no go-ahead, the COM-PORT option), the line settings and a purge
// once the server has taken the option, the server's answers and modem-state notices, and IAC escaping
// both ways. Bytes in, bytes out: no socket, no clock.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace mb::rfc2217 {

// Telnet commands and the options the client deals in.
inline constexpr std::uint8_t kSe = 240, kSb = 250, kWill = 251, kWont = 252, kDo = 253, kDont = 254,
                              kIac = 255;
inline constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
// COM-PORT-OPTION commands, client to server; the server answers with the same code plus 100.
inline constexpr std::uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                              kSetControl = 5, kNotifyModemState = 7, kSetModemStateMask = 11,
                              kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;
// Values used: no parity, one stop bit, no flow control, DTR and RTS low, purge both directions.
inline constexpr std::uint8_t kParityNone = 1, kStopOne = 1, kControlNoFlow = 1, kControlDtrOff = 9,
                              kControlRtsOff = 12, kPurgeBoth = 3;
// Modem-state bits: carrier detect and its change.
inline constexpr std::uint8_t kModemCarrier = 0x80, kModemCarrierChanged = 0x08;

// Appends bytes to out with every IAC doubled.
void escape(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out);

class Client {
public:
    explicit Client(std::uint32_t baud, std::uint8_t dataSize = 8) : baud_(baud), dataSize_(dataSize) {}

    // What to send as soon as the connection stands.
    std::vector<std::uint8_t> start();
    // Takes bytes from the server. The serial data among them is written to the front of `bytes` (it
    // never takes more room than the input did); returns how many. Answers owed to the server are
    // appended to `reply`.
    std::size_t receive(std::span<std::uint8_t> bytes, std::vector<std::uint8_t>& reply);

    // The server took the COM-PORT option; the settings have been sent.
    bool accepted() const { return settingsSent_; }
    // The server declined the option: it is no RFC 2217 server.
    bool refused() const { return refused_; }
    // The server answered the rate and the purge: the line is set up and empty.
    bool ready() const { return purged_ && serverBaud_; }
    // The server's own word on the line, once it has given it.
    std::optional<std::uint32_t> serverBaud() const { return serverBaud_; }
    std::optional<std::uint8_t> serverDataSize() const { return serverDataSize_; }
    // The last modem-state notice (0 until one came) and how many came.
    std::uint8_t modemState() const { return modemState_; }
    unsigned modemNotices() const { return modemNotices_; }

private:
    enum class Parse : std::uint8_t { Data, Iac, Verb, Sub, SubIac };
    struct Option {
        bool us = false, him = false;           // enabled on our side / the server's
        bool askedUs = false, askedHim = false; // our WILL / DO awaits its answer
    };
    static bool wanted(std::uint8_t option) {
        return option == kBinary || option == kSuppressGoAhead || option == kComPort;
    }
    void negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& reply);
    void subnegotiation();
    void sendSettings(std::vector<std::uint8_t>& out);
    static void command(std::vector<std::uint8_t>& out, std::uint8_t code,
                        std::span<const std::uint8_t> value);

    std::uint32_t baud_;
    std::uint8_t dataSize_;
    Parse parse_ = Parse::Data;
    std::uint8_t verb_ = 0;
    Option options_[256]{};
    // A subnegotiation longer than any the client understands is dropped, not collected without end.
    static constexpr std::size_t kMaxSub = 32;
    std::vector<std::uint8_t> sub_;
    bool subOverflow_ = false;
    bool settingsSent_ = false;
    bool refused_ = false;
    bool purged_ = false;
    std::optional<std::uint32_t> serverBaud_;
    std::optional<std::uint8_t> serverDataSize_;
    std::uint8_t modemState_ = 0;
    unsigned modemNotices_ = 0;
};

} // namespace mb::rfc2217
