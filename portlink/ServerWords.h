// What a server's words mean when it turns a client away, as a result and its reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace portlink {

// The most of a server's words kept for a reason.
constexpr std::size_t kLongestServerText = 80;

// A server's message as one line of printable ASCII, blanks folded, for an error line.
std::string serverWords(const std::string& text);

// ser2net's words when it turns a client away ("Port already in use" while another client holds its
// device, "Device open failure" when its device cannot be opened) as a result with its reason; VELLPORT_OK
// for any other words. Only the words tell these from the rest.
int refusal(const std::string& said, const std::string& address, std::string& reason);

// A server that closes before it was asked to has refused the client, in words or without.
int closedEarly(std::string what, const std::string& serverText, const std::string& address,
                std::string& reason);

// Keeps the first words a server sends, for the reason should it close early.
void keepText(std::string& kept, const std::uint8_t* bytes, std::size_t count);

} // namespace portlink
