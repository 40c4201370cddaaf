// SPDX-License-Identifier: GPL-3.0-or-later
// Which SMFs a batch run made: a folder listing before and after.
#include "unroll/batch_unroll.h"

#include <system_error>

namespace sonvex {

namespace {

bool IsConvertedSmf(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    const std::string unrolled = ".unrolled.mid";
    if (name.size() >= unrolled.size() &&
        name.compare(name.size() - unrolled.size(), unrolled.size(), unrolled) == 0) {
        return false;
    }
    return path.extension() == ".mid";
}

} // namespace

SmfSnapshot SnapshotSmfs(const std::string& folder) {
    SmfSnapshot snapshot;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code fileError;
        if (it->is_regular_file(fileError) && IsConvertedSmf(it->path())) {
            const auto time = it->last_write_time(fileError);
            if (!fileError) {
                snapshot[it->path().filename().string()] = time;
            }
        }
    }
    return snapshot;
}

std::vector<std::string> SmfsMadeSince(const std::string& folder, const SmfSnapshot& before) {
    std::vector<std::string> made;
    for (const auto& [name, time] : SnapshotSmfs(folder)) {
        auto it = before.find(name);
        if (it == before.end() || it->second != time) {
            made.push_back((std::filesystem::path(folder) / name).string());
        }
    }
    return made;
}

} // namespace sonvex
