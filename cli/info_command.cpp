// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli info FILE`: says what a file that the suite reads or writes holds.
#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "bank2dls/vab_records.h"
#include "chunkfile/chunk_file.h"
#include "cli/commands.h"
#include "convlist/convert_list.h"
#include "formats/dls.h"
#include "formats/file_bytes.h"
#include "formats/sf2.h"
#include "formats/smf.h"
#include "platform/messages.h"
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
    const FileBytes bytes = ReadFileBytes(path);
    if (bytes.status != FileReadStatus::Ok) {
        std::fprintf(stderr, "error: cannot open convert list \"%s\": %s [01]\n", path.c_str(),
                     bytes.error.c_str());
        return 1;
    }
    const std::string problem = ListProblem(bytes.bytes);
    if (!problem.empty()) {
        std::fprintf(stderr, "error: not a convert list \"%s\": %s\n", path.c_str(),
                     problem.c_str());
        return 1;
    }
    ListLoad status = ListLoad::Ok;
    auto list = LoadList(path, &status);
    if (!list) {
        std::fprintf(stderr, "error: cannot read \"%s\": %s\n", path.c_str(),
                     CannotReadReason(path).c_str());
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
        std::fprintf(stderr, "error: \"%s\": not a segment file we can read: %s\n", path.c_str(),
                     read.diagnostics.failure.c_str());
        return 1;
    }
    std::printf("segment file %s\n%s", path.c_str(), DescribeSegment(read.segment).c_str());
    return 0;
}

int InfoSequence(const std::string& path, std::span<const uint8_t> head) {
    SeqHeader h;
    if (!ParseSeqHeader(head, h)) {
        std::fprintf(stderr, "error: \"%s\": sequence header cut short\n", path.c_str());
        return 1;
    }
    // A single sequence's version is the 32-bit big-endian word behind the magic; in a
    // numbered set its low half is the set's id field (zero), so the high half is shown.
    const uint32_t version =
        h.Numbered() ? h.version : (static_cast<uint32_t>(h.version) << 16 | h.id);
    std::printf("sequence %s\n  %s, version %u, %u ticks per quarter note, %u us per quarter note "
                "(%.2f bpm), time signature %u/%u\n",
                path.c_str(), h.Numbered() ? "numbered set" : "single sequence", version,
                h.division, h.tempo, h.tempo ? 60000000.0 / h.tempo : 0.0, h.numerator,
                1u << (h.denominatorExponent & 7));
    return 0;
}

int InfoBankHeader(const std::string& path) {
    ChunkFile file;
    if (!file.OpenRead(path)) {
        std::fprintf(stderr, "error: cannot read \"%s\": %s\n", path.c_str(),
                     CannotReadReason(path).c_str());
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

// Tempo, length, loop markers and the programs each channel uses, over all tracks.
void DescribeSmfMusic(const SmfFile& smf) {
    std::map<uint64_t, uint32_t> tempos; // tick -> microseconds per quarter note
    std::vector<std::pair<uint64_t, std::string>> markers;
    std::map<int, std::set<int>> programs; // channel (1-16) -> programs
    uint64_t end = 0;
    for (const SmfTrack& track : smf.tracks) {
        for (const SmfTrackEvent& e : track.events) {
            end = std::max(end, e.tick);
            if (!e.Complete()) {
                continue;
            }
            if (e.IsMeta(0x51) && e.data.size() == 3) {
                tempos[e.tick] =
                    static_cast<uint32_t>(e.data[0] << 16 | e.data[1] << 8 | e.data[2]);
            } else if (e.IsMeta(0x06)) {
                markers.emplace_back(e.tick, std::string(e.data.begin(), e.data.end()));
            } else if (e.status < 0xF0 && e.Kind() == 0xC0) {
                programs[e.Channel() + 1].insert(e.data1);
            }
        }
    }
    const bool smpte = (smf.division & 0x8000u) != 0;
    double seconds = 0;
    if (!smpte && smf.division != 0) {
        uint64_t at = 0;
        uint32_t tempo = 500000; // the SMF default, 120 beats per minute
        for (const auto& [tick, value] : tempos) {
            if (tick > end) {
                break;
            }
            seconds += static_cast<double>(tick - at) * tempo / 1e6 / smf.division;
            at = tick;
            tempo = value;
        }
        seconds += static_cast<double>(end - at) * tempo / 1e6 / smf.division;
    }
    if (tempos.empty()) {
        std::printf("  tempo: none set (120 bpm)\n");
    } else {
        const uint32_t first = tempos.begin()->second;
        std::printf("  tempo: %.2f bpm (%u us per quarter note)%s\n", first ? 6e7 / first : 0.0,
                    first, tempos.size() > 1 ? ", then changes" : "");
    }
    std::printf("  length: %" PRIu64 " ticks", end);
    if (!smpte && smf.division != 0) {
        std::printf(", %.2f s", seconds);
    }
    std::printf("\n");
    for (const auto& [tick, text] : markers) {
        std::printf("  marker at tick %" PRIu64 ": \"%s\"\n", tick, text.c_str());
    }
    for (const auto& [channel, used] : programs) {
        std::string list;
        for (const int program : used) {
            list += (list.empty() ? "" : " ") + std::to_string(program);
        }
        std::printf("  channel %d programs: %s\n", channel, list.c_str());
    }
}

// A bank body has no magic: it is told by its extension and described block by block
// (16-byte ADPCM blocks; flags bit 0 ends a sample, bit 1 with it loops back).
int InfoBankBody(const std::string& path) {
    const FileBytes file = ReadFileBytes(path);
    if (file.status != FileReadStatus::Ok) {
        std::fprintf(stderr, "error: cannot read bank body \"%s\": %s\n", path.c_str(),
                     file.error.c_str());
        return 1;
    }
    const size_t blocks = file.bytes.size() / 16;
    size_t plausible = 0;
    size_t ends = 0;
    size_t loops = 0;
    size_t firstImplausible = blocks;
    for (size_t i = 0; i < blocks; ++i) {
        const uint8_t header = file.bytes[i * 16];
        const uint8_t flags = file.bytes[i * 16 + 1];
        if (IsPlausibleBodyBlock(header, flags)) {
            ++plausible;
        } else if (firstImplausible == blocks) {
            firstImplausible = i;
        }
        if ((flags & 1) != 0) {
            ++ends;
            loops += (flags & 2) != 0 ? 1 : 0;
        }
    }
    std::printf("sound bank body %s\n  %zu byte(s), %zu ADPCM block(s)%s, %zu of them plausible\n"
                "  %zu sample end(s), %zu of them looping\n",
                path.c_str(), file.bytes.size(), blocks,
                file.bytes.size() % 16 != 0 ? " and a partial block" : "", plausible, ends, loops);
    if (firstImplausible < blocks) {
        std::printf("  first implausible block at %s\n",
                    HexOffset(static_cast<uint64_t>(firstImplausible * 16)).c_str());
    }
    return plausible == blocks && blocks > 0 ? 0 : 1;
}

int InfoSmf(const std::string& path) {
    const FileBytes file = ReadFileBytes(path);
    const SmfRead read = ReadSmf(file.bytes, SmfDialect::Player);
    if (file.status != FileReadStatus::Ok || read.status != SmfReadStatus::Ok) {
        std::fprintf(stderr, "error: \"%s\": not a standard MIDI file we can read: %s\n",
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
    DescribeSmfMusic(smf);
    for (const std::string& note : read.diagnostics.notes) {
        std::printf("  note: %s\n", note.c_str());
    }
    return 0;
}

int InfoDls(const std::string& path) {
    const DlsReadOutcome read = ReadDlsFile(path);
    if (read.status != DlsReadStatus::Ok) {
        std::fprintf(stderr, "error: \"%s\": not a DLS collection we can read: %s\n", path.c_str(),
                     read.diagnostics.failure.c_str());
        return 1;
    }
    const DlsCollection& c = read.collection;
    std::printf("DLS collection %s \"%s\"\n  %zu instrument(s), %zu wave(s), %zu pool cue(s)\n",
                path.c_str(), c.name.c_str(), c.instruments.size(), c.waves.size(),
                c.poolTable.size());
    for (const DlsInstrument& in : c.instruments) {
        size_t connections = in.articulation.size();
        size_t looped = 0;
        for (const DlsRegion& r : in.regions) {
            connections += r.articulation.size();
            looped += r.sample && !r.sample->loops.empty() ? 1 : 0;
        }
        std::printf("  %s bank %u/%u program %u: %zu region(s) (%zu with a loop), %zu articulation "
                    "connection(s) \"%s\"\n",
                    in.IsDrumKit() ? "drum kit" : "instrument", in.BankMsb(), in.BankLsb(),
                    in.Program(), in.regions.size(), looped, connections, in.name.c_str());
    }
    size_t loopedWaves = 0;
    size_t frames = 0;
    for (const DlsWave& w : c.waves) {
        loopedWaves += w.sample && !w.sample->loops.empty() ? 1 : 0;
        frames += w.pcm.size();
    }
    std::printf("  waves: %zu, %zu with a loop, %zu frame(s) in all\n", c.waves.size(), loopedWaves,
                frames);
    for (const std::string& note : read.diagnostics.notes) {
        std::printf("  note: %s\n", note.c_str());
    }
    return 0;
}

// Timecents as seconds; the format's -32768 means no time at all.
double Sf2Seconds(int timecents) {
    return timecents <= -32768 ? 0.0 : std::exp2(timecents / 1200.0);
}

void DescribeSf2Zone(const Sf2Bank& bank, const Sf2Zone& zone, const Sf2Zone* global) {
    const auto gen = [&](uint16_t oper, int fallback) {
        const auto g = Sf2Find(zone, global, oper);
        return g ? static_cast<int>(g->Signed()) : fallback;
    };
    const auto range = [&](uint16_t oper) {
        const auto g = Sf2Find(zone, global, oper);
        return g ? std::to_string(g->Low()) + "-" + std::to_string(g->High()) : "0-127";
    };
    const auto sampleId = zone.Find(sf2op::kSampleId);
    const Sf2Sample* sample = sampleId && sampleId->amount < bank.samples.size()
                                  ? &bank.samples[sampleId->amount]
                                  : nullptr;
    const int root = gen(sf2op::kOverridingRootKey, -1);
    const int rootKey = root >= 0 && root <= 127 ? root : sample ? sample->originalPitch : 60;
    const int cents = gen(sf2op::kCoarseTune, 0) * 100 + gen(sf2op::kFineTune, 0) +
                      (sample != nullptr ? sample->pitchCorrection : 0);
    std::printf("    zone keys %s velocities %s: root key %d, tuning %+d cents, attenuation %d cB, "
                "pan %+.1f %%\n",
                range(sf2op::kKeyRange).c_str(), range(sf2op::kVelRange).c_str(), rootKey, cents,
                gen(sf2op::kInitialAttenuation, 0), gen(sf2op::kPan, 0) / 10.0);
    std::printf(
        "      envelope: delay %.3f s, attack %.3f s, hold %.3f s, decay %.3f s, sustain "
        "%.1f dB down, release %.3f s\n",
        Sf2Seconds(gen(sf2op::kVolEnvDelay, -12000)), Sf2Seconds(gen(sf2op::kVolEnvAttack, -12000)),
        Sf2Seconds(gen(sf2op::kVolEnvHold, -12000)), Sf2Seconds(gen(sf2op::kVolEnvDecay, -12000)),
        gen(sf2op::kVolEnvSustain, 0) / 10.0, Sf2Seconds(gen(sf2op::kVolEnvRelease, -12000)));
    if (sample == nullptr) {
        std::printf("      no sample\n");
        return;
    }
    const int mode = gen(sf2op::kSampleModes, 0);
    std::printf("      sample %u \"%s\", %s\n", sampleId->amount, sample->name.c_str(),
                mode == 1 || mode == 3 ? "looping" : "played once");
}

int InfoSf2(const std::string& path) {
    const Sf2ReadOutcome read = ReadSf2File(path);
    if (read.status != Sf2ReadStatus::Ok) {
        std::fprintf(stderr, "error: \"%s\": not a SoundFont 2 bank we can read: %s\n",
                     path.c_str(), read.diagnostics.failure.c_str());
        return 1;
    }
    const Sf2Bank& b = read.bank;
    std::printf("SoundFont %u.%02u bank %s \"%s\" for \"%s\"\n  %zu preset(s), %zu instrument(s), "
                "%zu sample(s), %zu sample point(s)\n",
                b.versionMajor, b.versionMinor, path.c_str(), b.name.c_str(), b.engine.c_str(),
                b.presets.size(), b.instruments.size(), b.samples.size(), b.samplePoints.size());
    for (const Sf2Preset& p : b.presets) {
        std::printf("  preset bank %u program %u \"%s\":", p.bank, p.preset, p.name.c_str());
        const Sf2Zone* global = Sf2GlobalZone(p.zones, sf2op::kInstrument);
        for (const Sf2Zone& z : p.zones) {
            const auto in = z.Find(sf2op::kInstrument);
            if (&z == global || !in) {
                continue;
            }
            const auto keys = Sf2Find(z, global, sf2op::kKeyRange);
            std::printf(" instrument %u", in->amount);
            if (keys) {
                std::printf(" (keys %u-%u)", keys->Low(), keys->High());
            }
        }
        std::printf("\n");
    }
    for (size_t i = 0; i < b.instruments.size(); ++i) {
        const Sf2Instrument& in = b.instruments[i];
        const Sf2Zone* global = Sf2GlobalZone(in.zones, sf2op::kSampleId);
        std::printf("  instrument %zu \"%s\": %zu zone(s)\n", i, in.name.c_str(),
                    in.zones.size() - (global != nullptr ? 1 : 0));
        for (const Sf2Zone& z : in.zones) {
            if (&z != global) {
                DescribeSf2Zone(b, z, global);
            }
        }
    }
    for (size_t i = 0; i < b.samples.size(); ++i) {
        const Sf2Sample& s = b.samples[i];
        // Loop points counted from the sample's first frame.
        const auto from = [&](uint32_t point) {
            return static_cast<int64_t>(point) - static_cast<int64_t>(s.start);
        };
        std::printf("  sample %zu \"%s\": %" PRId64 " frame(s) at %u Hz, root key %u, "
                    "correction %+d cents, loop %" PRId64 "-%" PRId64 "\n",
                    i, s.name.c_str(), from(s.end), s.sampleRate, s.originalPitch,
                    s.pitchCorrection, from(s.loopStart), from(s.loopEnd));
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
        std::fprintf(stderr, "error: cannot read \"%s\": %s\n", path.c_str(),
                     CannotReadReason(path).c_str());
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
    if (magic == "RIFF" && form == "sfbk") {
        return InfoSf2(path);
    }
    if (magic == "pQES" || magic == "SEQp") {
        return InfoSequence(path, std::span<const uint8_t>(head, static_cast<size_t>(got)));
    }
    if (magic == "pBAV") {
        return InfoBankHeader(path);
    }
    std::string lower = ext;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == ".vb") {
        return InfoBankBody(path);
    }
    std::fprintf(stderr,
                 "error: \"%s\" is not a file kind that info knows (convert list, segment, "
                 "sequence, bank header, bank body .vb, SMF, DLS, SoundFont 2)\n",
                 path.c_str());
    return 1;
}

} // namespace

void AddInfoCommand(CLI::App& app, CommandRun& run) {
    auto path = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand(
        "info", "Describe what a convert list, sequence, bank, SMF, DLS or SoundFont 2 file holds");
    cmd->add_option("file", *path, "File to describe")->required();
    cmd->callback([&run, path] { run = [path] { return RunInfo(*path); }; });
}

} // namespace sonvex::cli
