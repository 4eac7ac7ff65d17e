// The port link library's calls that run on the window's own threads, counted so that the program ends only
// when none is left inside the library, or once the bound of the ones that have a bound has passed.
#pragma once

#include <chrono>

// One call inside the library on the calling thread, from construction to destruction.
class LibraryCall {
public:
    using Clock = std::chrono::steady_clock;

    // deadline: when the library promises to have returned; Clock::time_point::max() for a call without a
    // bound of its own (a describe waits as long as the kernel holds its read).
    explicit LibraryCall(Clock::time_point deadline);
    ~LibraryCall();
    LibraryCall(const LibraryCall&) = delete;
    LibraryCall& operator=(const LibraryCall&) = delete;

private:
    Clock::time_point m_deadline;
};

// Waits until no call is inside the library or the latest deadline among the bounded ones has passed, and
// never for an unbounded one; true when none is left. A false answer means a thread is still inside the
// library, so the process must end without running the destructors of the library's statics under it.
bool libraryCallsEnded();
