// The library's TLS module, loaded on first use from beside the library, so that a process without a TLS
// target never maps libssl.
#pragma once

#include "tls/TlsApi.h"

#include <string>

namespace portlink {

// The module's function table, or null with reason saying why it cannot be loaded. Loaded once per process.
const VellTlsApi* tlsModule(std::string& reason);

} // namespace portlink
