#include "HostLookup.h"

#include "VellPortDll.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <new>
#include <pthread.h>
#include <resolv.h>
#include <unordered_map>
#include <utility>

namespace portlink {
namespace {

constexpr std::chrono::milliseconds kAnswerMargin{500};

// One name being looked up. Its thread and every caller waiting for it share it, so whichever lets go last
// frees it, and a caller that gives up at its deadline leaves the thread nothing freed to write into.
struct Job {
    Job(std::string name, int seconds) : host(std::move(name)), tryTime(seconds) {}
    const std::string host;
    // Seconds each name server gets to answer: what is left of the call's bound and half a second, rounded
    // up, so the caller's deadline comes first and the call says it had no answer.
    const int tryTime;
    // The rest is guarded by the registry's lock.
    std::condition_variable finished;
    bool done = false;
    int error = 0;       // getaddrinfo's result
    int systemError = 0; // errno after it
    std::vector<sockaddr_storage> found;
};

// The lookups in flight and their threads.
struct Registry {
    std::mutex lock;
    std::condition_variable threadEnded;
    std::unordered_map<std::string, std::shared_ptr<Job>> inFlight;
    std::size_t threads = 0;
    // Taken around each thread's resolver set-up: glibc guards the table it adds the thread to with a lock of
    // its own that thread checkers cannot see, and this one shows them the order.
    std::mutex resolverSetUp;
};

// Made once and never destroyed: a lookup thread may end while exit() runs the destructors of static objects.
Registry& registry() {
    static Registry* const instance = new Registry;
    return *instance;
}

addrinfo streamHints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    return hints;
}

std::vector<sockaddr_storage> streamAddresses(const addrinfo* head) {
    std::vector<sockaddr_storage> found;
    for (const addrinfo* entry = head; entry != nullptr; entry = entry->ai_next) {
        if ((entry->ai_family == AF_INET || entry->ai_family == AF_INET6) &&
            entry->ai_addrlen <= sizeof(sockaddr_storage)) {
            sockaddr_storage address{};
            std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
            found.push_back(address);
        }
    }
    return found;
}

void* lookUp(void* handed) {
    const std::shared_ptr<Job> job = std::move(*static_cast<std::shared_ptr<Job>*>(handed));
    delete static_cast<std::shared_ptr<Job>*>(handed);
    // DNS servers get one try of about the call's bound, in place of resolv.conf's timeout and attempts (up
    // to 30 s and 5 tries each): one that never answers keeps this thread at most 1.5 s longer than its
    // caller waits. The resolver's state is this thread's own.
    if (const std::lock_guard setUp(registry().resolverSetUp); ::res_ninit(&_res) == 0) {
        _res.retrans = job->tryTime;
        _res.retry = 1;
    }
    // No AI_ADDRCONFIG: a box with loopback alone would find no address for localhost's names.
    const addrinfo hints = streamHints(0);
    addrinfo* head = nullptr;
    errno = 0;
    int error = ::getaddrinfo(job->host.c_str(), nullptr, &hints, &head);
    const int systemError = errno;
    std::vector<sockaddr_storage> found;
    try {
        found = streamAddresses(head);
    } catch (const std::bad_alloc&) {
        error = EAI_MEMORY;
    }
    if (head != nullptr) {
        ::freeaddrinfo(head);
    }
    Registry& shared = registry();
    const std::lock_guard lock(shared.lock);
    job->done = true;
    job->error = error;
    job->systemError = systemError;
    job->found = std::move(found);
    if (const auto entry = shared.inFlight.find(job->host);
        entry != shared.inFlight.end() && entry->second == job) {
        shared.inFlight.erase(entry);
    }
    --shared.threads;
    job->finished.notify_all();
    shared.threadEnded.notify_all();
    return nullptr;
}

// Starts job's thread detached, with a small stack and every signal blocked (signals are the caller's to
// handle). Returns 0 or pthread_create's error.
int startThread(const std::shared_ptr<Job>& job) {
    auto* handed = new std::shared_ptr<Job>(job);
    pthread_attr_t attributes;
    ::pthread_attr_init(&attributes);
    ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    ::pthread_attr_setstacksize(&attributes, kLookupStack);
    sigset_t all;
    sigset_t callers;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &callers);
    pthread_t thread{};
    const int error = ::pthread_create(&thread, &attributes, lookUp, handed);
    ::pthread_sigmask(SIG_SETMASK, &callers, nullptr);
    ::pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete handed;
    }
    return error;
}

int lookupFailure(const Job& job, std::string& reason) {
    const std::string failed = "name lookup of \"" + job.host + "\" failed: ";
    // The C library may call a name unknown when it could not open the files or sockets to look for it.
    if (job.systemError == EMFILE || job.systemError == ENFILE) {
        reason = failed + "out of file descriptors";
        return VELLPORT_ERR_IO;
    }
    if (job.error == EAI_MEMORY) {
        reason = failed + "out of memory";
        return VELLPORT_ERR_IO;
    }
    if (job.error == EAI_NONAME || job.error == EAI_NODATA || job.error == EAI_FAIL ||
        job.error == EAI_ADDRFAMILY) {
        reason = "host name \"" + job.host + "\" not found";
    } else {
        reason =
            failed + (job.error == EAI_SYSTEM ? std::strerror(job.systemError) : ::gai_strerror(job.error));
    }
    return VELLPORT_ERR_HOST;
}

} // namespace

int HostLookup::find(const std::string& host, int port, Clock::time_point deadline,
                     std::chrono::milliseconds bound, std::string& reason) {
    const addrinfo numeric = streamHints(AI_NUMERICHOST);
    if (addrinfo* head = nullptr; ::getaddrinfo(host.c_str(), nullptr, &numeric, &head) == 0) {
        const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(head, ::freeaddrinfo);
        keep(streamAddresses(head), port);
        return VELLPORT_OK;
    }
    const std::string noAnswer =
        "no answer from the name lookup of \"" + host + "\" within " + std::to_string(bound.count()) + " ms";
    Registry& shared = registry();
    std::unique_lock lock(shared.lock);
    std::shared_ptr<Job> job;
    while (!job) {
        if (const auto entry = shared.inFlight.find(host); entry != shared.inFlight.end()) {
            job = entry->second;
        } else if (shared.threads < kMostLookupThreads) {
            const auto left =
                std::chrono::ceil<std::chrono::seconds>(deadline - Clock::now() + kAnswerMargin);
            auto started = std::make_shared<Job>(host, static_cast<int>(std::max<long>(1, left.count())));
            if (const int error = startThread(started); error != 0) {
                reason =
                    "cannot start a thread for the name lookup of \"" + host + "\": " + std::strerror(error);
                return VELLPORT_ERR_IO;
            }
            ++shared.threads;
            job = shared.inFlight.emplace(host, std::move(started)).first->second;
        } else if (shared.threadEnded.wait_until(lock, deadline) == std::cv_status::timeout) {
            reason = noAnswer + " (" + std::to_string(kMostLookupThreads) +
                     " other lookups are waiting for their name servers)";
            return VELLPORT_ERR_TIMEOUT;
        }
    }
    if (!job->finished.wait_until(lock, deadline, [&job] { return job->done; })) {
        reason = noAnswer;
        return VELLPORT_ERR_TIMEOUT;
    }
    if (job->error != 0) {
        return lookupFailure(*job, reason);
    }
    std::vector<sockaddr_storage> found = job->found;
    lock.unlock();
    keep(std::move(found), port);
    return VELLPORT_OK;
}

void HostLookup::keep(std::vector<sockaddr_storage> found, int port) {
    m_storage = std::move(found);
    m_entries.assign(m_storage.size(), addrinfo{});
    const auto networkPort = htons(static_cast<std::uint16_t>(port));
    for (std::size_t i = 0; i < m_storage.size(); ++i) {
        sockaddr_storage& address = m_storage[i];
        addrinfo& entry = m_entries[i];
        entry.ai_family = address.ss_family;
        entry.ai_socktype = SOCK_STREAM;
        entry.ai_protocol = IPPROTO_TCP;
        if (address.ss_family == AF_INET) {
            reinterpret_cast<sockaddr_in&>(address).sin_port = networkPort;
            entry.ai_addrlen = sizeof(sockaddr_in);
        } else {
            reinterpret_cast<sockaddr_in6&>(address).sin6_port = networkPort;
            entry.ai_addrlen = sizeof(sockaddr_in6);
        }
        entry.ai_addr = reinterpret_cast<sockaddr*>(&address);
    }
}

} // namespace portlink
