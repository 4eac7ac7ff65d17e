// The communication settings kept in section "COMM", and the fixed port and baud lists.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* kCommSection = "COMM";

struct CommSettings {
    std::string port = "COM1";
    int baudIndex = 2;                      // into kBaudList; -1 when nothing is selected
    std::array<int, 4> ip{192, 168, 2, 10}; // IP1 (most significant) to IP4
};

inline constexpr std::array<const char*, 7> kBaudList{"2400",  "4800",  "9600",  "19200",
                                                      "38400", "57600", "115200"};

// The COM names the window lists and `vellport list` always shows: COM1 to COM30.
inline constexpr int kPortCount = 30;

// COM1..COM9, then \\.\COM10..\\.\COM30.
std::vector<std::string> BuildPortList();
// The entry a stored port name selects: prefix match without case, from index 1 on, index 0 last; 1 when
// none.
int FindPortIndex(const std::vector<std::string>& list, const std::string& stored);

// The port and baud list entries the window selects when it opens with stored settings; the baud entry is -1
// (none) for a stored index outside the baud list.
struct CommSelection {
    int portIndex = 1;
    int baudIndex = -1;
};
CommSelection selectStored(const std::vector<std::string>& ports, const CommSettings& stored);

// "%d.%d.%d.%d" of IP1..IP4.
std::string formatAddress(const std::array<int, 4>& ip);
// IP1..IP4 from a value with IP1 in bits 24-31 down to IP4 in bits 0-7.
std::array<int, 4> addressOctets(std::uint32_t value);

class ProfileSnapshot;

// All six values through IniReadString / IniReadInt on one reading of the file.
CommSettings loadCommSettings(const std::string& path);
CommSettings loadCommSettings(const ProfileSnapshot& file);
// Port, Baud, IP1..IP4 in that order through IniWriteString / IniWriteInt on one update: one replacement of
// the file, so another instance sees all six or none. False when not all could be stored.
bool saveCommSettings(const CommSettings& settings, const std::string& path);
// The same on g_strIniPath.
CommSettings loadCommSettings();
bool saveCommSettings(const CommSettings& settings);
