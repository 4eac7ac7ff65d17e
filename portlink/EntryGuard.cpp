#include "EntryGuard.h"

#include <atomic>
#include <cstdio>
#include <string_view>
#include <unistd.h>

namespace portlink {
namespace {

constexpr std::size_t kLongestShownName = 64;

// The entry point running on this thread, as its error line names it.
thread_local const char* t_function = "";
thread_local const char* t_argument = nullptr;
thread_local bool t_hasArgument = false;
// What the thread's last failed call said, for callers that show the reason somewhere else than stderr.
thread_local std::string t_lastError;
// How far the thread's last send is known to have gone.
thread_local int t_lastDelivery = VELLPORT_DELIVERY_NONE;
thread_local std::optional<VellTlsSummary> t_lastTls;
// Callers that report failures themselves switch the stderr lines off.
std::atomic<bool> g_errorLines{true};

std::string shownName(const char* port) {
    if (port == nullptr) {
        return "(null)";
    }
    std::string shown = "\"";
    const std::string_view name(port);
    for (std::size_t i = 0; i < name.size() && i < kLongestShownName; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        } else {
            shown += static_cast<char>(c);
        }
    }
    if (name.size() > kLongestShownName) {
        shown += "...";
    }
    return shown + "\"";
}

} // namespace

// Every guarded entry point starts with a clean reason, so a success reads as ""; the release functions keep
// it, so a caller may release a result before reading why the call failed.
void beginCall(const char* function, const char* argument, bool hasArgument) {
    t_function = function;
    t_argument = argument;
    t_hasArgument = hasArgument;
    t_lastError.clear();
    t_lastDelivery = VELLPORT_DELIVERY_NONE;
    t_lastTls.reset();
}

int fail(const std::string& target, int code, const std::string& reason) {
    std::string line = std::string(t_function) + "(" + (t_hasArgument ? shownName(t_argument) : "") +
                       "): " + (target.empty() ? std::string("no device path") : target) + ": " + reason;
    writeErrorLine(line);
    t_lastError = std::move(line);
    return code;
}

void setDelivery(int delivery) {
    t_lastDelivery = delivery;
}

const char* lastError() {
    return t_lastError.c_str();
}

int lastDelivery() {
    return t_lastDelivery;
}

void setErrorLines(bool enabled) {
    g_errorLines.store(enabled, std::memory_order_relaxed);
}

void writeErrorLine(const std::string& text) {
    if (!g_errorLines.load(std::memory_order_relaxed)) {
        return;
    }
    const std::string line = "VellPortDll: " + text + "\n";
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
}

void setTls(const std::optional<VellTlsSummary>& summary) {
    t_lastTls = summary;
}

const std::optional<VellTlsSummary>& lastTls() {
    return t_lastTls;
}

} // namespace portlink
