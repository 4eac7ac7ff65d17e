#include "Rfc2217.h"

#include <algorithm>
#include <string_view>

namespace portlink::rfc2217 {
namespace {

// A COM-PORT-OPTION sub-negotiation holds at most a command and four bytes; longer ones are not ours. One
// byte more is kept, to mark one that overflowed.
constexpr std::size_t kLongestSubnegotiation = 64;
constexpr std::size_t kBaudRateBytes = 4;

// The options either side may perform; every other one is refused.
bool mayPerform(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

// "none", "odd", ... for the option's parity codes; the number itself for others.
std::string parityName(int code) {
    static constexpr std::array<const char*, 5> kNames = {"none", "odd", "even", "mark", "space"};
    if (code >= 1 && code <= static_cast<int>(kNames.size())) {
        return kNames.at(static_cast<std::size_t>(code - 1));
    }
    return "code " + std::to_string(code);
}

// Stop size code 3 is one and a half bits.
std::string stopName(int code) {
    constexpr int kOneAndAHalf = 3;
    return code == kOneAndAHalf ? std::string("1.5") : std::to_string(code);
}

} // namespace

LineRequest lineRequest(int baudRate, int dataBits, char parity, int stopBits, int flowControl) {
    LineRequest request;
    request.baudRate = static_cast<std::uint32_t>(baudRate);
    request.dataSize = static_cast<std::uint8_t>(dataBits);
    // The option's parity codes count from 1 in this order; any other letter is none.
    const std::size_t code = std::string_view("NOEMS").find(parity);
    request.parity = static_cast<std::uint8_t>(code == std::string_view::npos ? 1 : code + 1);
    request.stopSize = static_cast<std::uint8_t>(stopBits == 2 ? 2 : 1);
    constexpr std::uint8_t kControlXonXoff = 2;
    constexpr std::uint8_t kControlHardware = 3;
    request.control = flowControl == 1 ? kControlHardware : flowControl == 2 ? kControlXonXoff : 0;
    return request;
}

Bytes escapeData(const std::uint8_t* data, std::size_t count) {
    Bytes escaped;
    escaped.reserve(count + count / 8);
    for (std::size_t i = 0; i < count; ++i) {
        escaped.push_back(data[i]);
        if (data[i] == kIac) {
            escaped.push_back(kIac);
        }
    }
    return escaped;
}

void Negotiation::feed(const std::uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        handleByte(data[i]);
    }
}

std::string Negotiation::settingMismatch() const {
    if (!confirmed()) {
        return {};
    }
    const std::string prefix = "the server's port set ";
    if (*m_baudRate != m_request.baudRate) {
        return prefix + std::to_string(*m_baudRate) + " bits/s instead of " +
               std::to_string(m_request.baudRate);
    }
    if (*m_dataSize != m_request.dataSize) {
        return prefix + std::to_string(*m_dataSize) + " data bits instead of " +
               std::to_string(m_request.dataSize);
    }
    if (*m_parity != m_request.parity) {
        return prefix + "parity " + parityName(*m_parity) + " instead of " + parityName(m_request.parity);
    }
    if (*m_stopSize != m_request.stopSize) {
        return prefix + stopName(*m_stopSize) + " stop bits instead of " + stopName(m_request.stopSize);
    }
    return {};
}

void Negotiation::handleByte(std::uint8_t byte) {
    switch (m_state) {
    case State::Data:
        if (byte == kIac) {
            m_state = State::Iac;
        } else {
            m_data.push_back(byte);
        }
        return;
    case State::Iac:
        if (byte == kIac) {
            m_data.push_back(byte);
            m_state = State::Data;
        } else if (byte == kDo || byte == kDont || byte == kWill || byte == kWont) {
            m_command = byte;
            m_state = State::Option;
        } else if (byte == kSb) {
            m_sub.clear();
            m_state = State::Sub;
        } else {
            m_state = State::Data; // NOP, GA, AYT and the like ask nothing of a client that only sends
        }
        return;
    case State::Option:
        m_state = State::Data;
        handleOption(m_command, byte);
        return;
    case State::Sub:
        if (byte == kIac) {
            m_state = State::SubIac;
        } else if (m_sub.size() <= kLongestSubnegotiation) {
            m_sub.push_back(byte);
        }
        return;
    case State::SubIac:
        if (byte == kIac) {
            m_state = State::Sub;
            if (m_sub.size() <= kLongestSubnegotiation) {
                m_sub.push_back(byte);
            }
            return;
        }
        handleSubnegotiation();
        m_state = State::Data;
        if (byte != kSe) {
            // An unterminated sub-negotiation ends at the next command, which is then read as such.
            m_state = State::Iac;
            handleByte(byte);
        }
        return;
    }
}

void Negotiation::handleOption(std::uint8_t command, std::uint8_t option) {
    if (option == kComPortOption && command == kDo) {
        if (!m_comPortAgreed && !m_comPortRefused) {
            agreeComPort();
        }
        return;
    }
    if (option == kComPortOption && command == kDont) {
        if (m_comPortAgreed) {
            m_comPortAgreed = false;
            m_comPortRefused = true;
            m_options.at(kComPortOption).local = false;
            put({kIac, kWont, kComPortOption});
        }
        return;
    }
    if (m_comPortAgreed || m_comPortRefused) {
        answerOption(command, option);
        return;
    }
    // Silent until the server has shown it speaks the option: keep what it asked, once per request.
    const std::array<std::uint8_t, 2> request{command, option};
    if ((command == kDo || command == kWill) &&
        std::find(m_pending.begin(), m_pending.end(), request) == m_pending.end()) {
        m_pending.push_back(request);
    }
}

void Negotiation::answerOption(std::uint8_t command, std::uint8_t option) {
    OptionState& state = m_options.at(option);
    // Each kind of request is answered once per option: a server that flips an option without end gets no
    // more answers, so they cannot pile up while nobody sends them.
    const auto kind = static_cast<std::uint8_t>(1U << static_cast<unsigned>(command - kWill));
    if ((state.answered & kind) != 0) {
        return;
    }
    const std::size_t before = m_outgoing.size();
    // DO and DONT ask about our side of the option, WILL and WONT about the server's; DO and WILL ask for it
    // on.
    const bool ours = command == kDo || command == kDont;
    const bool askedOn = command == kDo || command == kWill;
    bool& on = ours ? state.local : state.remote;
    if (on != askedOn) {
        on = askedOn && mayPerform(option);
        put({kIac, ours ? (on ? kWill : kWont) : (on ? kDo : kDont), option});
    }
    if (m_outgoing.size() != before) {
        state.answered |= kind;
    }
}

void Negotiation::handleSubnegotiation() {
    if (m_sub.size() > kLongestSubnegotiation || m_sub.size() < 2 || m_sub[0] != kComPortOption ||
        !m_comPortAgreed) {
        return;
    }
    const std::uint8_t code = m_sub[1];
    const std::size_t valueSize = m_sub.size() - 2;
    const std::uint8_t* value = m_sub.data() + 2;
    if (code == kServerOffset + kSetBaudRate && valueSize >= kBaudRateBytes) {
        m_baudRate = static_cast<std::uint32_t>(value[0]) << 24U |
                     static_cast<std::uint32_t>(value[1]) << 16U |
                     static_cast<std::uint32_t>(value[2]) << 8U | value[3];
    } else if (valueSize >= 1 && code == kServerOffset + kSetDataSize) {
        m_dataSize = value[0];
    } else if (valueSize >= 1 && code == kServerOffset + kSetParity) {
        m_parity = value[0];
    } else if (valueSize >= 1 && code == kServerOffset + kSetStopSize) {
        m_stopSize = value[0];
    }
}

void Negotiation::agreeComPort() {
    m_comPortAgreed = true;
    m_options.at(kComPortOption).local = true;
    put({kIac, kWill, kComPortOption});
    for (const auto& [command, option] : m_pending) {
        answerOption(command, option);
    }
    m_pending.clear();
    const std::uint32_t rate = m_request.baudRate;
    putSubnegotiation(kSetBaudRate,
                      {static_cast<std::uint8_t>(rate >> 24U), static_cast<std::uint8_t>(rate >> 16U),
                       static_cast<std::uint8_t>(rate >> 8U), static_cast<std::uint8_t>(rate)});
    putSubnegotiation(kSetDataSize, {m_request.dataSize});
    putSubnegotiation(kSetParity, {m_request.parity});
    putSubnegotiation(kSetStopSize, {m_request.stopSize});
    if (m_request.control != 0) {
        putSubnegotiation(kSetControl, {m_request.control});
    }
}

void Negotiation::put(std::initializer_list<std::uint8_t> bytes) {
    m_outgoing.insert(m_outgoing.end(), bytes);
}

void Negotiation::putSubnegotiation(std::uint8_t command, const Bytes& value) {
    put({kIac, kSb, kComPortOption, command});
    const Bytes escaped = escapeData(value.data(), value.size());
    m_outgoing.insert(m_outgoing.end(), escaped.begin(), escaped.end());
    put({kIac, kSe});
}

} // namespace portlink::rfc2217
