// Resource numbers of the settings window, its controls and the program icon.
#pragma once

inline constexpr int IDD_SETTINGS = 102;
inline constexpr int IDI_MAIN = 128;
inline constexpr int IDC_PORT = 1000;
inline constexpr int IDC_BAUD = 1001;
inline constexpr int IDC_IPADDRESS = 1002;
inline constexpr int IDC_LINK_LABEL = 1003;
inline constexpr int IDC_SAVER_ON = 1004;
inline constexpr int IDC_SAVER_OFF = 1005;
inline constexpr int IDC_SAVER_DEFAULT = 1006;
#ifndef IDCANCEL
inline constexpr int IDCANCEL = 2;
#endif
inline constexpr int IDC_STATIC = -1;
