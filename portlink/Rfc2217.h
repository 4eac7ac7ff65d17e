// The client side of telnet with the COM-PORT-OPTION (RFC 854, RFC 2217) as pure functions over bytes, so the
// reading of a server's stream can be tested and fuzzed without a socket.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace portlink::rfc2217 {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;
constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPortOption = 44;

// COM-PORT-OPTION commands from the client; the server answers each with the code plus kServerOffset.
enum ComPortCommand : std::uint8_t {
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5
};
constexpr std::uint8_t kServerOffset = 100;

// The line settings as the option encodes them.
struct LineRequest {
    std::uint32_t baudRate = 9600;
    std::uint8_t dataSize = 8;
    std::uint8_t parity = 1;   // 1 none, 2 odd, 3 even, 4 mark, 5 space
    std::uint8_t stopSize = 1; // 1 one, 2 two
    std::uint8_t control = 0;  // 0: not sent; 2 XON/XOFF, 3 hardware
};

// The request for parameters as SetComParam takes them (parity letter in upper case; flow 0, 1 hardware,
// 2 software).
LineRequest lineRequest(int baudRate, int dataBits, char parity, int stopBits, int flowControl);

// Data bytes for a telnet connection: every 0xFF doubled.
Bytes escapeData(const std::uint8_t* data, std::size_t count);

// Reads the server's stream and decides what the client answers. Nothing is ever put out before the server
// asked for the COM-PORT-OPTION (IAC DO 44): a raw port must never see a negotiation byte, as it would reach
// the device. Requests for other options that came before are kept and answered then.
class Negotiation {
public:
    explicit Negotiation(const LineRequest& request) : m_request(request) {}

    // Takes the next bytes of the stream, split anywhere.
    void feed(const std::uint8_t* data, std::size_t count);

    // What the client must send now, emptied by the call.
    Bytes takeOutgoing() { return std::exchange(m_outgoing, {}); }
    // Data bytes the server sent (IAC IAC unescaped), emptied by the call.
    Bytes takeData() { return std::exchange(m_data, {}); }

    bool comPortAgreed() const { return m_comPortAgreed; }
    // The server asked for the option, then withdrew it (IAC DONT 44).
    bool comPortRefused() const { return m_comPortRefused; }
    // All four line settings were confirmed (with whatever values).
    bool confirmed() const { return m_baudRate && m_dataSize && m_parity && m_stopSize; }
    // Why the confirmed settings differ from the asked ones ("the server's port set 4800 bits/s instead of
    // 9600"), or "" when they match or are not all in.
    std::string settingMismatch() const;

    std::optional<std::uint32_t> confirmedBaudRate() const { return m_baudRate; }

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    struct OptionState {
        bool local = false;      // we agreed to perform it (WILL sent)
        bool remote = false;     // the server performs it (DO sent)
        std::uint8_t answered{}; // one bit per kind of request (WILL, WONT, DO, DONT) answered already
    };

    void handleByte(std::uint8_t byte);
    void handleOption(std::uint8_t command, std::uint8_t option);
    void answerOption(std::uint8_t command, std::uint8_t option);
    void handleSubnegotiation();
    void agreeComPort();
    void put(std::initializer_list<std::uint8_t> bytes);
    void putSubnegotiation(std::uint8_t command, const Bytes& value);

    LineRequest m_request;
    State m_state = State::Data;
    std::uint8_t m_command = 0;
    Bytes m_sub;
    Bytes m_outgoing;
    Bytes m_data;
    // Option requests seen before the DO 44, answered once it came: (command, option).
    std::vector<std::array<std::uint8_t, 2>> m_pending;
    std::array<OptionState, 256> m_options{};
    bool m_comPortAgreed = false;
    bool m_comPortRefused = false;
    std::optional<std::uint32_t> m_baudRate;
    std::optional<std::uint8_t> m_dataSize;
    std::optional<std::uint8_t> m_parity;
    std::optional<std::uint8_t> m_stopSize;
};

} // namespace portlink::rfc2217
