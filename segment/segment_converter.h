// SPDX-License-Identifier: GPL-3.0-or-later
// The segment builder's entry point: checks the chosen SMF and DLS, writes the segment
// file beside the SMF, and tells the caller (preview dialog, command line, test) what
// to update through optional callbacks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "formats/diagnostics.h"
#include "platform/feedback.h"
#include "platform/messages.h"
#include "segment/segment_writer.h"

namespace sonvex {

// The outcome; every failure value is the number of the message that was shown.
enum class [[nodiscard]] SegmentResult : int{
    Done = 0,
    NoSmfName = NumberOf(MessageId::SegmentNoSmf),
    NoDlsName = NumberOf(MessageId::SegmentNoDls),
    NotSmf = NumberOf(MessageId::SegmentNotSmf), // the SMF name does not end in ".mid"
    SmfOpenFailed = NumberOf(MessageId::SegmentSmfOpenFailed),
    DlsOpenFailed = NumberOf(MessageId::SegmentDlsOpenFailed),
    OutputOpenFailed = NumberOf(MessageId::SegmentOutputOpenFailed),
    // The SMF or DLS cannot be followed, or writing failed.
    ConversionFailed = NumberOf(MessageId::SegmentNotMade),
};

constexpr int ToCode(SegmentResult r) {
    return static_cast<int>(r);
}
// The message a failure shows (not meaningful for Done).
constexpr MessageId MessageOf(SegmentResult r) {
    return static_cast<MessageId>(r);
}

struct SegmentJob {
    std::string workFolder;  // folder of the SMF; the segment file is written there too
    std::string smfName;     // SMF file name in the work folder; empty when none is selected
    std::string dlsName;     // DLS file name; empty when none is selected
    std::string dlsFolder;   // folder of the DLS; empty means the work folder
    int selectedSmfRow = -1; // the SMF's row in the dialog's list, handed to the row update
    GuidSource newGuid;      // empty: NewGuid
};

// What the dialog's SMF list needs after a segment file was written.
struct SegmentRowUpdate {
    int selectedSmfRow = -1; // if the row just below this one names outputName (any case), it goes
    std::string outputName;  // the segment file's name, no folder; inserted with the segment image
    uint64_t sizeBytes = 0;
    std::string sizeText; // column 1 of the new row, "%luB"
};

// Steps around the conversion that belong to the preview dialog; each may be empty.
struct SegmentCallbacks {
    // Before anything else: stop the loaded segment if it is playing.
    std::function<void()> stopPlayback;
    // After success: replace or add the list row of the new segment file.
    std::function<void(const SegmentRowUpdate&)> updateRow;
    // Last, after success: clear the loader's cache of all object types.
    std::function<void()> clearLoaderCache;
};

// Details for a caller that prints more than the message box says.
struct SegmentReport {
    std::string outputPath;  // the segment file (written, or that would have been written)
    uint64_t outputSize = 0; // bytes, after success
    Diagnostics diagnostics; // failure: why conversion failed, with the structure and offset
};

// Converts work folder/smfName with dlsName into work folder/<smf base>.sgt. The file
// is written under a temporary name in the same folder and renamed over the output only
// when complete, so a failure leaves an older segment file as it was.
SegmentResult ConvertSmfToSegment(const SegmentJob& job, Feedback& feedback,
                                  const SegmentCallbacks& callbacks,
                                  SegmentReport* report = nullptr);

// The same from two paths, as a command line gives them: the segment goes beside the SMF.
SegmentResult ConvertSmfToSegment(const std::string& smfPath, const std::string& dlsPath,
                                  Feedback& feedback, const SegmentCallbacks& callbacks,
                                  SegmentReport* report = nullptr);

// The name with its extension (from the last dot) removed.
std::string RemoveExtension(std::string_view name);
// The name with its extension replaced by ".sgt" (appended when it has none).
std::string SegmentFileName(std::string_view smfName);
// File names compared without regard to ASCII letter case.
bool SameFileName(std::string_view a, std::string_view b);

} // namespace sonvex
