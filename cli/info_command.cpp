// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli info FILE`: says what a file that the suite reads or writes holds.
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "bank2dls/vab_records.h"
#include "chunkfile/chunk_file.h"
#include "cli/commands.h"
#include "convlist/convert_list.h"
#include "formats/dls.h"
#include "formats/file_bytes.h"
#include "formats/smf.h"
#include "segment/segment_reader.h"
#include "seq2smf/seq_format.h"

namespace sonvex::cli {

namespace {

const char* LoadStatusText(ListLoad status) {
    switch (status) {
    case ListLoad::Ok:
        return "complete";
    case ListLoad::ShortHeader:
        return "header cut short";
    case ListLoad::ShortEntries:
        return "fewer entries than its count";
    }
    return "";
}

int InfoConvertList(const std::string& path) {
    ListLoad status = ListLoad::Ok;
    auto list = LoadList(path, &status);
    if (!list) {
        std::fprintf(stderr, "sonvex-cli: cannot read %s\n", path.c_str());
        return 1;
    }
    std::printf("convert list %s\n", path.c_str());
    std::printf("  count %" PRIu32 ", %zu entries read (%s)\n", list->count, list->entries.size(),
                LoadStatusText(status));
    std::printf("  source folder \"%s\"\n", list->sourceFolder.c_str());
    std::printf("  %-8s %6s %12s %12s  %s\n", "type", "number", "offset", "size", "game file");
    for (const ListEntry& e : list->entries) {
        const char* name = TypeName(e.type);
        char unknown[16];
        if (!name) {
            std::snprintf(unknown, sizeof unknown, "0x%08" PRIX32, e.type);
            name = unknown;
        }
        std::printf("  %-8s %6" PRId32 " %12" PRIu64 " %12" PRId64 "  %s\n", name, e.number,
                    e.offset, e.size, e.fileName.c_str());
    }
    return status == ListLoad::Ok ? 0 : 1;
}

int InfoSegment(const std::string& path) {
    const SegmentRead read = ReadSegmentFile(path);
    if (read.status != SegmentReadResult::Ok) {
        std::fprintf(stderr, "sonvex-cli: %s: not a segment file we can read: %s\n", path.c_str(),
                     read.diagnostics.failure.c_str());
        return 1;
    }
    std::printf("segment file %s\n%s", path.c_str(), DescribeSegment(read.segment).c_str());
    return 0;
}

int InfoSequence(const std::string& path, std::span<const uint8_t> head) {
    SeqHeader h;
    if (!ParseSeqHeader(head, h)) {
        std::fprintf(stderr, "sonvex-cli: %s: sequence header cut short\n", path.c_str());
        return 1;
    }
    std::printf("sequence %s\n  %s, version %u, %u ticks per quarter note, %u us per quarter note "
                "(%.2f bpm), time signature %u/%u\n",
                path.c_str(), h.Numbered() ? "numbered set" : "single sequence", h.version,
                h.division, h.tempo, h.tempo ? 60000000.0 / h.tempo : 0.0, h.numerator,
                1u << (h.denominatorExponent & 7));
    return 0;
}

int InfoBankHeader(const std::string& path) {
    ChunkFile file;
    if (!file.OpenRead(path)) {
        std::fprintf(stderr, "sonvex-cli: cannot read %s\n", path.c_str());
        return 1;
    }
    VabHeader header;
    const VabCheck check = ValidateVabHeader(file, 0, header);
    std::printf("sound bank header %s\n  %u program(s), %u tone(s), %u sample(s); %s\n",
                path.c_str(), header.programCount, header.toneCount, header.vagCount,
                check == VabCheck::Ok ? "valid"
                                      : (check == VabCheck::ShortRead ? "cut short" : "not valid"));
    return check == VabCheck::Ok ? 0 : 1;
}

int InfoSmf(const std::string& path) {
    const FileBytes file = ReadFileBytes(path);
    const SmfRead read = ReadSmf(file.bytes, SmfDialect::Player);
    if (file.status != FileReadStatus::Ok || read.status != SmfReadStatus::Ok) {
        std::fprintf(stderr, "sonvex-cli: %s: not a standard MIDI file we can read: %s\n",
                     path.c_str(),
                     (file.error.empty() ? read.diagnostics.failure : file.error).c_str());
        return 1;
    }
    const SmfFile& smf = read.smf;
    std::printf("standard MIDI file %s\n  format %u, %u track(s) declared, division %u%s\n",
                path.c_str(), smf.format, smf.trackCount, smf.division & 0x7FFFu,
                (smf.division & 0x8000u) != 0 ? " (SMPTE)" : " ticks per quarter note");
    for (size_t i = 0; i < smf.tracks.size(); ++i) {
        const SmfTrack& track = smf.tracks[i];
        const uint64_t last = track.events.empty() ? 0 : track.events.back().tick;
        std::printf("  track %zu at %s: %zu event(s), last at tick %" PRIu64 "%s\n", i,
                    HexOffset(track.offset).c_str(), track.events.size(), last,
                    track.ended ? "" : ", no end of track");
    }
    for (const std::string& note : read.diagnostics.notes) {
        std::printf("  note: %s\n", note.c_str());
    }
    return 0;
}

int InfoDls(const std::string& path) {
    const DlsReadOutcome read = ReadDlsFile(path);
    if (read.status != DlsReadStatus::Ok) {
        std::fprintf(stderr, "sonvex-cli: %s: not a DLS collection we can read: %s\n", path.c_str(),
                     read.diagnostics.failure.c_str());
        return 1;
    }
    const DlsCollection& c = read.collection;
    std::printf("DLS collection %s \"%s\"\n  %zu instrument(s), %zu wave(s), %zu pool cue(s)\n",
                path.c_str(), c.name.c_str(), c.instruments.size(), c.waves.size(),
                c.poolTable.size());
    for (const DlsInstrument& in : c.instruments) {
        std::printf("  %s bank %u/%u program %u: %zu region(s) \"%s\"\n",
                    in.IsDrumKit() ? "drum kit" : "instrument", in.BankMsb(), in.BankLsb(),
                    in.Program(), in.regions.size(), in.name.c_str());
    }
    for (const std::string& note : read.diagnostics.notes) {
        std::printf("  note: %s\n", note.c_str());
    }
    return 0;
}

int RunInfo(const std::string& path) {
    const std::string ext = std::filesystem::path(path).extension().string();
    if (ext == ".clg") {
        return InfoConvertList(path);
    }
    ChunkFile file;
    uint8_t head[16] = {};
    if (!file.OpenRead(path)) {
        std::fprintf(stderr, "sonvex-cli: cannot read %s\n", path.c_str());
        return 1;
    }
    const int64_t got = file.Read(head, sizeof head);
    file.Close();
    const std::string magic(reinterpret_cast<const char*>(head), got >= 4 ? 4 : 0);
    if (IsSegmentForm(std::span<const uint8_t>(head, static_cast<size_t>(got)))) {
        return InfoSegment(path);
    }
    const std::string form =
        got >= 12 ? std::string(reinterpret_cast<const char*>(head + 8), 4) : "";
    if (magic == "MThd" || (magic == "RIFF" && form == "RMID")) {
        return InfoSmf(path);
    }
    if (magic == "RIFF" && form == "DLS ") {
        return InfoDls(path);
    }
    if (magic == "pQES" || magic == "SEQp") {
        return InfoSequence(path, std::span<const uint8_t>(head, static_cast<size_t>(got)));
    }
    if (magic == "pBAV") {
        return InfoBankHeader(path);
    }
    std::fprintf(stderr,
                 "sonvex-cli: %s: not a file kind that info knows (convert list, segment, "
                 "sequence, bank header, SMF, DLS)\n",
                 path.c_str());
    return 1;
}

} // namespace

void AddInfoCommand(CLI::App& app, CommandRun& run) {
    auto path = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand(
        "info", "Describe what a convert list, sequence, bank, SMF or DLS file holds");
    cmd->add_option("file", *path, "File to describe")->required()->check(CLI::ExistingFile);
    cmd->callback([&run, path] { run = [path] { return RunInfo(*path); }; });
}

} // namespace sonvex::cli
