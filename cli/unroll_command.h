// SPDX-License-Identifier: GPL-3.0-or-later
// `--unroll-loops N` and `--fade S` of convert and rip: after the run, NAME.unrolled.mid
// beside every SMF it made.
#pragma once

#include <string>

#include "cli/commands.h"
#include "unroll/batch_unroll.h"

namespace sonvex::cli {

class UnrollAfterRun {
  public:
    void AddOptions(CLI::App& cmd);
    // Notes the SMFs in `folder` before the run.
    void Before(const std::string& folder);
    // Unrolls the SMFs the run made; false when one could not be unrolled (said on stderr).
    bool After(const std::string& folder) const;

  private:
    int loops_ = 0; // 0: not asked for
    double fade_ = 10.0;
    SmfSnapshot before_;
};

} // namespace sonvex::cli
