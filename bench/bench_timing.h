// SPDX-License-Identifier: GPL-3.0-or-later
// Timing helpers the benchmarks share: seconds since a moment, and the wall time of another
// program run to its end.
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

} // namespace sonvex::bench
