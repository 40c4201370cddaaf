// SPDX-License-Identifier: GPL-3.0-or-later
// SMF and segment loaders: bounds-checked reads into the Sequence the sequencer plays.
#include "playback/music_loader.h"

#include <algorithm>
#include <map>
#include <optional>

#include "formats/file_bytes.h"
#include "formats/smf.h"
#include "segment/segment_reader.h"
#include "segment/smf_reader.h"

namespace sonvex {

namespace {

constexpr int64_t kLastMusicTime = 0x7FFFFFFF;
// Music time per second for files timed in SMPTE frames: they ignore tempo events and
// are laid out at the default tempo.
constexpr double kSmpteMusicPerSecond = kDefaultTempo / 60.0 * kTicksPerQuarter;

// Turns the events of an SMF read in the player dialect into a Sequence in music time.
class SmfParser {
  public:
    SmfParser(const SmfFile& smf, const SmfLoadOptions& options) : smf_(smf), options_(options) {}

    MusicLoadOutcome Run(MusicLoadOutcome out);

  private:
    // Music time of an absolute tick count; nullopt past the range of music time.
    std::optional<int32_t> MusicTimeOf(uint64_t tick) const;
    // Music time of the track's end (or of its last event read).
    int64_t ReadTrack(const SmfTrack& track, size_t index);

    const SmfFile& smf_;
    SmfLoadOptions options_;
    MusicLoadOutcome out_;
    Sequence* seq_ = nullptr;
    bool smpte_ = false;
    double ticksPerSecond_ = 0.0;
    bool timeSignatureSeen_ = false;
    std::vector<TempoPoint> tempos_;
    // Text and marker events in music time, which decide the loop for loopsFromMarkers.
    std::vector<SmfEvent> loopTexts_;
};

std::optional<int32_t> SmfParser::MusicTimeOf(uint64_t tick) const {
    if (smpte_) {
        const double t = static_cast<double>(tick) / ticksPerSecond_ * kSmpteMusicPerSecond + 0.5;
        if (t > static_cast<double>(kLastMusicTime)) {
            return std::nullopt;
        }
        return static_cast<int32_t>(t);
    }
    if (tick > (uint64_t{1} << 40)) {
        return std::nullopt;
    }
    const uint64_t t = (tick * kTicksPerQuarter + smf_.division / 2) / smf_.division;
    if (t > static_cast<uint64_t>(kLastMusicTime)) {
        return std::nullopt;
    }
    return static_cast<int32_t>(t);
}

int64_t SmfParser::ReadTrack(const SmfTrack& track, size_t index) {
    int32_t now = 0;
    // Open notes of this track by channel and key, oldest first: index into events.
    std::map<uint16_t, std::vector<size_t>> open;
    auto closeNote = [&](uint8_t channel, uint8_t key) {
        auto it = open.find(static_cast<uint16_t>(channel << 8 | key));
        if (it == open.end() || it->second.empty()) {
            return;
        }
        MusicEvent& note = seq_->events[it->second.front()];
        note.duration = now - note.time;
        it->second.erase(it->second.begin());
    };
    bool ended = false;
    int64_t stop = track.stop;
    for (const SmfTrackEvent& event : track.events) {
        const std::optional<int32_t> time = MusicTimeOf(event.tick);
        if (!time) {
            stop = event.statusOffset;
            // The track ends before the reader's own fault, which then goes unsaid.
            const auto fault = std::find(out_.diagnostics.notes.begin(),
                                         out_.diagnostics.notes.end(), track.fault);
            if (!track.fault.empty() && fault != out_.diagnostics.notes.end()) {
                out_.diagnostics.notes.erase(fault);
            }
            out_.diagnostics.notes.push_back(
                DiagnosticText("track " + std::to_string(index), event.statusOffset,
                               "event beyond the range of music time; the track ends here"));
            break;
        }
        now = *time;
        if (!event.Complete()) {
            break;
        }
        const uint8_t status = event.status;
        if (status < 0xF0) {
            const uint8_t kind = status & 0xF0;
            const uint8_t d1 = static_cast<uint8_t>(event.data1 & 0x7F);
            const uint8_t d2 = static_cast<uint8_t>(event.data2 & 0x7F);
            const uint8_t channel = status & 0x0F;
            if (kind == 0x80 || (kind == 0x90 && d2 == 0)) {
                closeNote(channel, d1);
                continue;
            }
            MusicEvent e;
            e.time = now;
            e.kind = kind == 0x90 ? MusicEventKind::Note : MusicEventKind::Channel;
            e.status = status;
            e.data1 = d1;
            e.data2 = d2;
            if (kind == 0x90) {
                e.duration = -1; // until its note-off
                open[static_cast<uint16_t>(channel << 8 | d1)].push_back(seq_->events.size());
            }
            seq_->events.push_back(e);
        } else if (status == 0xFF) {
            // System exclusive is not sent: the synthesizer's state is ours to keep.
            const uint8_t type = event.metaType;
            const std::span<const uint8_t> data = event.data;
            if (type == 0x2F) {
                ended = true;
                break;
            }
            if (type == 0x51 && data.size() >= 3 && !smpte_) {
                const uint32_t micros = (static_cast<uint32_t>(data[0]) << 16) |
                                        (static_cast<uint32_t>(data[1]) << 8) | data[2];
                if (micros > 0) {
                    tempos_.push_back({now, 60000000.0 / micros});
                }
            } else if (type == 0x58 && data.size() >= 2 && !timeSignatureSeen_) {
                if (data[0] > 0 && data[1] <= 6) {
                    seq_->beatsPerBar = data[0];
                    seq_->beatUnit = 1 << data[1];
                    timeSignatureSeen_ = true;
                }
            } else if (type == 0x01 || type == 0x06) {
                SmfEvent& text = loopTexts_.emplace_back();
                static_cast<SmfTrackEvent&>(text) = event;
                text.time = now;
            }
        }
    }
    if (!ended) {
        out_.diagnostics.notes.push_back(
            DiagnosticText("track " + std::to_string(index), stop, "no end-of-track event"));
    }
    // Notes never switched off sound to the end of their track.
    for (auto& [key, indexes] : open) {
        for (size_t i : indexes) {
            seq_->events[i].duration = now - seq_->events[i].time;
        }
    }
    return now;
}

MusicLoadOutcome SmfParser::Run(MusicLoadOutcome out) {
    out_ = std::move(out);
    if ((smf_.division & 0x8000) != 0) {
        // The reader saw to it that there are ticks per frame.
        smpte_ = true;
        const int frames = 256 - (smf_.division >> 8);
        ticksPerSecond_ = (frames == 29 ? 29.97 : frames) * (smf_.division & 0xFF);
    }

    out_.sequence = std::make_shared<Sequence>();
    seq_ = out_.sequence.get();
    int64_t length = 0;
    for (size_t i = 0; i < smf_.tracks.size(); ++i) {
        if (smf_.format == 2 && i > 0) {
            out_.diagnostics.notes.push_back(DiagnosticText(
                "chunk", smf_.tracks[i].offset, "a format 2 file plays its first track only"));
            break;
        }
        length = std::max(length, ReadTrack(smf_.tracks[i], i));
    }
    seq_->SortEvents();
    seq_->tempo = TempoMap(std::move(tempos_));
    seq_->length = static_cast<int32_t>(length);

    if (options_.loopsFromMarkers) {
        // Taken the way the segment builder takes them, in time order over all tracks.
        std::stable_sort(loopTexts_.begin(), loopTexts_.end(),
                         [](const SmfEvent& a, const SmfEvent& b) { return a.time < b.time; });
        SequenceValues values;
        for (const SmfEvent& text : loopTexts_) {
            values.Take(text);
        }
        // The count is the number of passes through the loop in all (none, 0 or 1: one);
        // the sequence counts the passes back to the loop start.
        seq_->repeats = values.repeats == kRepeatEndless ? kRepeatEndless
                        : values.repeats > 1             ? values.repeats - 1
                                                         : 0;
        seq_->loopStart = values.loopStart;
        seq_->loopEnd = values.loopEnd;
        seq_->loopMarked = values.loopMarked;
    }
    return std::move(out_);
}

// Segment files: everything the reader understood, as events in music time.
MusicLoadOutcome FromSegment(const SegmentFile& file) {
    MusicLoadOutcome out;
    out.sequence = std::make_shared<Sequence>();
    Sequence& seq = *out.sequence;
    std::vector<TempoPoint> tempos;
    for (const TempoItem& t : file.tempos) {
        tempos.push_back({t.time, t.tempo});
    }
    seq.tempo = TempoMap(std::move(tempos));

    std::map<std::string, int> collectionIndex; // file name in lower case
    for (const SegmentBand& band : file.bands) {
        std::vector<BandInstrument> instruments;
        for (const SegmentBandInstrument& in : band.instruments) {
            BandInstrument b;
            b.channel = static_cast<uint8_t>(in.record.channel & 0x0F);
            if (in.record.channel > 15) {
                out.diagnostics.notes.push_back("band \"" + band.name + "\": performance channel " +
                                                std::to_string(in.record.channel) +
                                                " plays on channel " +
                                                std::to_string(b.channel + 1));
            }
            b.patch = in.record.patch;
            b.flags = in.record.flags;
            b.volume = static_cast<uint8_t>(in.record.volume & 0x7F);
            b.pan = static_cast<uint8_t>(in.record.pan & 0x7F);
            b.bendRange = in.record.pitchBendRange;
            std::string dlsName =
                in.referenceFile.empty() ? in.referenceName + ".dls" : in.referenceFile;
            if (!in.referenceFile.empty() || !in.referenceName.empty()) {
                std::string key;
                for (char c : dlsName) {
                    key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
                }
                auto [it, added] =
                    collectionIndex.emplace(key, static_cast<int>(seq.collections.size()));
                if (added) {
                    seq.collections.push_back(dlsName);
                }
                b.collection = it->second;
            }
            instruments.push_back(b);
        }
        MusicEvent e;
        e.time = std::max(band.logicalTime, 0);
        e.kind = MusicEventKind::Band;
        e.band = static_cast<uint32_t>(seq.bands.size());
        seq.bands.push_back(std::move(instruments));
        seq.events.push_back(e);
    }
    int64_t lastEnd = 0;
    for (const SequenceItem& item : file.sequenceItems) {
        MusicEvent e;
        e.time = std::max(item.time, 0);
        const uint8_t channel = static_cast<uint8_t>(item.channel & 0x0F);
        const uint8_t kind = static_cast<uint8_t>(item.status & 0xF0);
        e.data1 = static_cast<uint8_t>(item.data1 & 0x7F);
        e.data2 = static_cast<uint8_t>(item.data2 & 0x7F);
        if (kind == 0x90) {
            if (e.data2 == 0) {
                continue; // a note without velocity plays nothing
            }
            e.kind = MusicEventKind::Note;
            e.status = static_cast<uint8_t>(0x90 | channel);
            e.duration = std::max(item.duration, 0);
        } else if (kind >= 0xA0 && kind <= 0xE0) {
            e.kind = MusicEventKind::Channel;
            e.status = static_cast<uint8_t>(kind | channel);
        } else {
            out.diagnostics.notes.push_back("sequence item at " + std::to_string(item.time) +
                                            ": status " + std::to_string(item.status) +
                                            " is not played");
            continue;
        }
        lastEnd = std::max<int64_t>(lastEnd, static_cast<int64_t>(e.time) + e.duration);
        seq.events.push_back(e);
    }
    seq.SortEvents();
    seq.length = file.header.length;
    if (seq.length <= 0 && lastEnd > 0) {
        out.diagnostics.notes.push_back("segment header: length " +
                                        std::to_string(file.header.length) + "; the items end at " +
                                        std::to_string(lastEnd));
        seq.length = static_cast<int32_t>(std::min<int64_t>(lastEnd, kLastMusicTime));
    }
    if (!file.timeSignatures.empty()) {
        const TimeSignatureItem& t = file.timeSignatures.front();
        if (t.beatsPerMeasure > 0 && t.beat > 0 && t.beat <= 64 && (t.beat & (t.beat - 1)) == 0) {
            seq.beatsPerBar = t.beatsPerMeasure;
            seq.beatUnit = t.beat;
        }
    }
    seq.repeats = file.header.repeats;
    seq.loopStart = file.header.loopStart;
    seq.loopEnd = file.header.loopEnd;
    seq.loopMarked = file.header.repeats > 0;
    return out;
}

} // namespace

MusicLoadOutcome LoadSmf(std::span<const uint8_t> bytes, const SmfLoadOptions& options) {
    const SmfRead read = ReadSmf(bytes, SmfDialect::Player);
    MusicLoadOutcome out;
    out.diagnostics.notes = read.diagnostics.notes;
    if (read.status == SmfReadStatus::Ok) {
        return SmfParser(read.smf, options).Run(std::move(out));
    }
    out.status = read.status == SmfReadStatus::NotSmf ? MusicLoadStatus::NotRecognised
                                                      : MusicLoadStatus::Malformed;
    out.diagnostics.failure = read.diagnostics.failure;
    return out;
}

MusicLoadOutcome LoadSmfFile(const std::string& path, const SmfLoadOptions& options) {
    return ParseWholeFile<MusicLoadOutcome>(
        path, MusicLoadStatus::OpenFailed,
        [&](std::span<const uint8_t> bytes) { return LoadSmf(bytes, options); });
}

MusicLoadOutcome LoadSegment(std::span<const uint8_t> bytes) {
    const SegmentRead read = ReadSegmentBytes(bytes);
    MusicLoadOutcome out;
    if (read.status != SegmentReadResult::Ok) {
        out.status =
            IsSegmentForm(bytes) ? MusicLoadStatus::Malformed : MusicLoadStatus::NotRecognised;
        out.diagnostics.failure = "segment: " + read.diagnostics.failure;
        return out;
    }
    return FromSegment(read.segment);
}

MusicLoadOutcome LoadSegmentFile(const std::string& path) {
    return ParseWholeFile<MusicLoadOutcome>(
        path, MusicLoadStatus::OpenFailed,
        [](std::span<const uint8_t> bytes) { return LoadSegment(bytes); });
}

} // namespace sonvex
