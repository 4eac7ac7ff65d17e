#include "LibraryCalls.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>

namespace {

struct InFlight {
    std::mutex mutex;
    std::condition_variable ended;
    std::multiset<LibraryCall::Clock::time_point> deadlines;
};

// Never destroyed: a thread may still be inside a call while exit() runs the static destructors.
InFlight& inFlight() {
    static auto* const calls = new InFlight;
    return *calls;
}

} // namespace

LibraryCall::LibraryCall(Clock::time_point deadline) : m_deadline(deadline) {
    InFlight& calls = inFlight();
    const std::lock_guard lock(calls.mutex);
    calls.deadlines.insert(deadline);
}

LibraryCall::~LibraryCall() {
    InFlight& calls = inFlight();
    {
        const std::lock_guard lock(calls.mutex);
        calls.deadlines.erase(calls.deadlines.find(m_deadline));
    }
    calls.ended.notify_all();
}

bool libraryCallsEnded() {
    InFlight& calls = inFlight();
    std::unique_lock lock(calls.mutex);
    for (;;) {
        if (calls.deadlines.empty())
            return true;
        // The latest bounded deadline; an unbounded call alone is not waited for.
        const auto bounded =
            std::find_if(calls.deadlines.rbegin(), calls.deadlines.rend(),
                         [](auto deadline) { return deadline != LibraryCall::Clock::time_point::max(); });
        if (bounded == calls.deadlines.rend() ||
            calls.ended.wait_until(lock, *bounded) == std::cv_status::timeout)
            return calls.deadlines.empty();
    }
}
