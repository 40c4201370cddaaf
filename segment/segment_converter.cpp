// SPDX-License-Identifier: GPL-3.0-or-later
// ConvertSmfToSegment: the checks with their numbered messages, the three open files,
// the temporary output renamed into place on success, and the list and status updates.
#include "segment/segment_converter.h"

#include <cstdio>

#include "platform/messages.h"

namespace sonvex {

namespace {

// Status text that follows the new file's name.
constexpr std::string_view kMadeSuffix = "作製";
// Appended to the output path while the segment is being written.
constexpr std::string_view kTemporarySuffix = ".tmp";

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    if (folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

// The extension of a file name, from its last dot; empty without one.
std::string_view Extension(std::string_view name) {
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
        return {};
    }
    return name.substr(dot);
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

SegmentResult Fail(Feedback& feedback, SegmentResult result) {
    ShowNumberedMessage(feedback, MessageOf(result));
    return result;
}

} // namespace

std::string RemoveExtension(std::string_view name) {
    return std::string(name.substr(0, name.size() - Extension(name).size()));
}

std::string SegmentFileName(std::string_view smfName) {
    return RemoveExtension(smfName) + ".sgt";
}

bool SameFileName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

SegmentResult ConvertSmfToSegment(const SegmentJob& job, Feedback& feedback,
                                  const SegmentCallbacks& callbacks, SegmentReport* report) {
    SegmentReport local;
    SegmentReport& details = report ? *report : local;
    details = SegmentReport{};

    if (callbacks.stopPlayback) {
        callbacks.stopPlayback();
    }
    if (job.smfName.empty()) {
        return Fail(feedback, SegmentResult::NoSmfName);
    }
    if (job.dlsName.empty()) {
        return Fail(feedback, SegmentResult::NoDlsName);
    }
    if (!SameFileName(Extension(job.smfName), ".mid")) {
        return Fail(feedback, SegmentResult::NotSmf);
    }

    const std::string smfPath = JoinPath(job.workFolder, job.smfName);
    const std::string dlsPath =
        JoinPath(job.dlsFolder.empty() ? job.workFolder : job.dlsFolder, job.dlsName);
    const std::string outputName = SegmentFileName(job.smfName);
    const std::string outputPath = JoinPath(job.workFolder, outputName);
    const std::string temporaryPath = outputPath + std::string(kTemporarySuffix);
    details.outputPath = outputPath;

    ChunkFile smf;
    if (!smf.OpenRead(smfPath)) {
        details.diagnostics.failure = "cannot open " + smfPath;
        return Fail(feedback, SegmentResult::SmfOpenFailed);
    }
    ChunkFile dls;
    if (!dls.OpenRead(dlsPath)) {
        smf.Close();
        details.diagnostics.failure = "cannot open " + dlsPath;
        return Fail(feedback, SegmentResult::DlsOpenFailed);
    }
    ChunkFile out;
    if (!out.Create(temporaryPath)) {
        dls.Close();
        smf.Close();
        details.diagnostics.failure = "cannot create " + temporaryPath;
        return Fail(feedback, SegmentResult::OutputOpenFailed);
    }

    SegmentNames names;
    names.segmentName = RemoveExtension(job.smfName);
    names.dls.name = RemoveExtension(job.dlsName);
    names.dls.file = job.dlsName;
    const GuidSource newGuid = job.newGuid ? job.newGuid : GuidSource(NewGuid);

    bool written = WriteSegment(smf, dls, out, names, newGuid, details.diagnostics.failure);
    const bool closed = out.Close();
    dls.Close();
    smf.Close();
    if (written && !closed) {
        written = false;
        details.diagnostics.failure = "writing " + temporaryPath + " failed";
    }
    if (written && !ChunkFile::Rename(temporaryPath, outputPath)) {
        written = false;
        details.diagnostics.failure = "cannot rename " + temporaryPath + " to " + outputPath;
    }
    if (!written) {
        ChunkFile::Delete(temporaryPath);
        return Fail(feedback, SegmentResult::ConversionFailed);
    }

    ChunkFile made;
    if (made.OpenRead(outputPath)) {
        details.outputSize = static_cast<uint64_t>(made.Size());
        made.Close();
    }
    if (callbacks.updateRow) {
        SegmentRowUpdate row;
        row.selectedSmfRow = job.selectedSmfRow;
        row.outputName = outputName;
        row.sizeBytes = details.outputSize;
        char size[32];
        std::snprintf(size, sizeof size, "%luB", static_cast<unsigned long>(details.outputSize));
        row.sizeText = size;
        callbacks.updateRow(row);
    }
    feedback.SetStatusText(outputName + std::string(kMadeSuffix));
    if (callbacks.clearLoaderCache) {
        callbacks.clearLoaderCache();
    }
    return SegmentResult::Done;
}

SegmentResult ConvertSmfToSegment(const std::string& smfPath, const std::string& dlsPath,
                                  Feedback& feedback, const SegmentCallbacks& callbacks,
                                  SegmentReport* report) {
    auto split = [](const std::string& path, std::string& folder, std::string& name) {
        const size_t slash = path.find_last_of('/');
        if (slash == std::string::npos) {
            folder = ".";
            name = path;
        } else {
            folder = slash == 0 ? "/" : path.substr(0, slash);
            name = path.substr(slash + 1);
        }
    };
    SegmentJob job;
    split(smfPath, job.workFolder, job.smfName);
    split(dlsPath, job.dlsFolder, job.dlsName);
    return ConvertSmfToSegment(job, feedback, callbacks, report);
}

} // namespace sonvex
