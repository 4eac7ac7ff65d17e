// The words that say where a port name leads, written once for the window's tooltips and `vellport list`.
#pragma once

#include "VellPortDll.h"

#include <string>
#include <string_view>

enum class WordsLanguage { English, Chinese };

// "USB serial adapter FTDI FT232R USB UART" (its ids when it names nothing), "serial port (8250)", or "" when
// the system says nothing of the device. UTF-8.
std::string adapterWords(const VellPortDeviceDetails& details, WordsLanguage language);

// What is at the name's target now: "present" (after the adapter when it is one), "not a device", "no
// device", "network", or "no permission: " and the fix the library names for the device ("join group
// dialout and log in again", "the device needs a udev rule ..."), which asks the library (user and group
// look-ups). UTF-8.
std::string stateWords(const VellPortInfo& info, WordsLanguage language);

// "COM5 → rfc2217://counter-pi:2001 (network)", with the name as the caller shows it ("\\.\COM30", say);
// Chinese text takes full-width brackets. UTF-8.
std::string portLeadsWords(std::string_view shownName, const VellPortInfo& info, WordsLanguage language);

// "COM12 → <why>" for a name VellPortDescribe refused (its own map line is not valid, say), from
// VellPortLastError's text right after the refusal: the library's reason, without the call and name it
// starts with, in the library's words (English).
std::string portRefusedWords(std::string_view shownName, std::string_view lastError);
