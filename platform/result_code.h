// SPDX-License-Identifier: GPL-3.0-or-later
// The result codes by which converters tell the batch driver what to do next.
#pragma once

namespace sonvex {

enum class [[nodiscard]] ConvertResult : int{
    Done = 0,          // converted
    CannotConvert = 1, // this item cannot be converted; go on with the next
    InputEnded = 2,    // the input ran out or a read came up short; stop the run
    PartlyDone = 3,    // (banks) converted in part; counted as done
    OpenFailed = -1,   // a file could not be opened or written; a message was shown; stop the run
};

constexpr int ToCode(ConvertResult r) {
    return static_cast<int>(r);
}

// True when the batch run must end after this result.
constexpr bool EndsRun(ConvertResult r) {
    return r == ConvertResult::InputEnded || r == ConvertResult::OpenFailed;
}

} // namespace sonvex
