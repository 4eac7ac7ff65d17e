// The commands' handlers, one file each in this folder: each takes the parsed options and the two streams and
// returns the exit status.
#pragma once

#include "vellport/CommandLine.h"

#include <iosfwd>

namespace vellport {
// list: COM1 to COM30 and any higher name a map names (or whose own map line is not valid): device or URL,
// rule, state and description, one line each or one JSON document.
int runList(const Options& options, std::ostream& out, std::ostream& err);
// devices: each serial device present with its details, stable name and the COM names leading to it.
int runDevices(const Options& options, std::ostream& out, std::ostream& err);
// map: makes COM<n> lead to a device path or an endpoint URL (its form checked, nothing connected), in the
// user's or the system's map file, every other byte kept.
int runMap(const Options& options, std::ostream& out, std::ostream& err);
// unmap: removes the map file's lines for COM<n>; an absent file is not created.
int runUnmap(const Options& options, std::ostream& out, std::ostream& err);
// send: the screen saver switched as the window's Open and Close buttons do. One --port (or none: the saved
// port) sends as the window does, silent on success; several targets, --to, --targets or --json send in
// parallel with a line per target and a summary.
int runSend(const Options& options, std::ostream& out, std::ostream& err);
// probe: whether the network endpoints answer, without sending data to the displays: the COM names and URLs
// given, or every COM name that leads to an endpoint, in parallel; a line per target and a summary, or JSON.
int runProbe(const Options& options, std::ostream& out, std::ostream& err);
// discover: the displays ser2net advertises over mDNS, each with a ready map line; maps nothing. 0 with
// adverts or none, 1 when no question could be sent.
int runDiscover(const Options& options, std::ostream& out, std::ostream& err);
} // namespace vellport
