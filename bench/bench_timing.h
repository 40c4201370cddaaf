// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers the benchmarks share: seconds since a moment, the wall time of another program
// run to its end, and an input file cached as a first read from disk leaves it.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace sonvex::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs `arguments` (the program, found on PATH, then its arguments) with its output to
// /dev/null; the seconds it took, or -1 when it could not be started or failed.
double TimeProgram(const std::vector<std::string>& arguments);

// Drops the file at `path` from the page cache and reads it back in once, so that the cache
// holds it as a first read from disk leaves it, not as writing it did: the kernel may then
// keep it in larger pages, which makes both mapping it and copying it out cheaper. False
// when it could not be read.
bool CacheAsRead(const std::string& path);

} // namespace sonvex::bench
