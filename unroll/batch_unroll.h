// SPDX-License-Identifier: GPL-3.0-or-later
// The step after a batch conversion that unrolls the SMFs it made: the folder's SMFs are
// noted before the run, and those new or rewritten since are the run's.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace sonvex {

// The SMFs (".mid", unrolled ones aside) of a folder, by file name, with their
// modification times.
using SmfSnapshot = std::map<std::string, std::filesystem::file_time_type>;

SmfSnapshot SnapshotSmfs(const std::string& folder);

// The SMFs of `folder` that are not in `before` or were modified since, as paths in
// `folder`, in name order.
std::vector<std::string> SmfsMadeSince(const std::string& folder, const SmfSnapshot& before);

} // namespace sonvex
