// Work on many targets at once: a small pool of threads with a cap on the calls in flight, each target's
// outcome handed back as it ends.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vellport {
// How the work on one target ended: the library's result and its reason, and the time it took.
struct TargetOutcome {
    int result = 0;
    std::string reason; // the library's words alone, without the call, the name and the path
    int delivery = 0;   // how far a send's bytes went (enum VellPortDelivery)
    int confirmedRate = 0;
    std::chrono::milliseconds elapsed{0};
};

// The reason of an error line (VellPortLastError) without its call, name and path, which the target's line
// shows already: "SendData(\"COM9\"): /dev/ttyS8: no such device" leading to /dev/ttyS8 is "no such device".
std::string reasonAlone(std::string_view lastError, std::string_view leadsTo);

// Calls work(i) for every target i with sameAs[i] == i on at most parallel threads, fewer when the system
// refuses more (one warning on err; the calling thread always works). done(i, outcome) is called for each
// target as it ends, one call at a time, so a slow target holds back only its own report, and right after
// it for every later target with sameAs[j] == i, with the same outcome: targets that lead to one place are
// worked on once. Work that throws (memory ran out) ends as VELLPORT_ERR_IO with the reason. Returns every
// outcome in target order.
std::vector<TargetOutcome> runOnTargets(const std::vector<std::size_t>& sameAs, std::size_t parallel,
                                        const std::function<TargetOutcome(std::size_t)>& work,
                                        const std::function<void(std::size_t, const TargetOutcome&)>& done,
                                        std::ostream& err);
} // namespace vellport
