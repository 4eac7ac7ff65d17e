// vellport's exit statuses, the same for every command.
#pragma once

namespace vellport {
// Success; the library, a target or an output write failed; wrong usage or unusable input (nothing was sent).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
} // namespace vellport
