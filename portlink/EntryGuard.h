// The one way in from C: each entry point runs through guarded(), which keeps the calling thread's last error
// and delivery, writes the error line on stderr and lets no exception cross the C interface.
#pragma once

#include "VellPortDll.h"
#include "tls/TlsApi.h"

#include <exception>
#include <new>
#include <optional>
#include <string>

namespace portlink {

// Starts a call of function(argument) on this thread: a clean last error and no delivery yet.
void beginCall(const char* function, const char* argument, bool hasArgument);

// Records why the current call failed, as "function(argument): target: reason", writes that line on stderr
// unless the lines are off, and returns code. An empty target reads "no device path".
int fail(const std::string& target, int code, const std::string& reason);

// How far the current call's send is known to have gone.
void setDelivery(int delivery);

// The TLS session of the current call's connection, when it had one.
void setTls(const std::optional<VellTlsSummary>& summary);

const char* lastError();
const std::optional<VellTlsSummary>& lastTls();
int lastDelivery();
void setErrorLines(bool enabled);

// Writes one line on stderr in a single write(), so lines from several threads never interleave.
void writeErrorLine(const std::string& text);

// Runs body as the entry point function(argument), or function() when hasArgument is false; an exception
// ends in an I/O failure and resultOnException.
template <typename Body>
int guarded(const char* function, const char* argument, Body&& body, int resultOnException = VELLPORT_ERR_IO,
            bool hasArgument = true) noexcept {
    try {
        beginCall(function, argument, hasArgument);
        return body();
    } catch (const std::bad_alloc&) {
        fail({}, VELLPORT_ERR_IO, "out of memory");
    } catch (const std::exception& error) {
        fail({}, VELLPORT_ERR_IO, std::string("internal error: ") + error.what());
    } catch (...) {
        fail({}, VELLPORT_ERR_IO, "internal error");
    }
    return resultOnException;
}

} // namespace portlink
