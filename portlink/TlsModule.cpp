// dlopen of the TLS module from the folder of the library that holds this code.
#include "TlsModule.h"

#include <dlfcn.h>
#include <mutex>

namespace portlink {
namespace {

constexpr const char* kModulePath = "VellPortDll/libVellPortDll-tls.so";

struct Loaded {
    const VellTlsApi* api = nullptr;
    std::string problem;
};

Loaded load() {
    Dl_info self{};
    if (::dladdr(reinterpret_cast<const void*>(&tlsModule), &self) == 0 || self.dli_fname == nullptr) {
        return {nullptr, "cannot tell where the library lies, to load its TLS module"};
    }
    std::string path = self.dli_fname;
    path.resize(path.find_last_of('/') + 1); // npos + 1: no folder at all
    path += kModulePath;
    // Kept for the life of the process: sessions of other threads may use it at any time.
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* why = ::dlerror();
        return {nullptr, "the TLS module cannot be loaded (" + std::string(why != nullptr ? why : path) +
                             "): is the library's package complete, and libssl3 installed?"};
    }
    const auto entry = reinterpret_cast<VellTlsEntry>(::dlsym(module, VELL_TLS_ENTRY));
    const VellTlsApi* api = entry != nullptr ? entry() : nullptr;
    if (api == nullptr || api->version != VELL_TLS_API_VERSION) {
        return {nullptr, "the TLS module at " + path + " is not of this library's version"};
    }
    return {api, {}};
}

} // namespace

const VellTlsApi* tlsModule(std::string& reason) {
    static std::once_flag once;
    static Loaded loaded;
    std::call_once(once, [] { loaded = load(); });
    if (loaded.api == nullptr) {
        reason = loaded.problem;
    }
    return loaded.api;
}

} // namespace portlink
