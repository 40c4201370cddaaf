// SPDX-License-Identifier: GPL-3.0-or-later
// What a loaded segment plays: events in music time (768 ticks per quarter note), its
// tempo map, band changes, length, loop points and repeat count; and the events the
// sequencer hands to a synthesizer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sonvex {

constexpr int32_t kTicksPerQuarter = 768;
// Repeat count that repeats the loop without end.
constexpr uint32_t kRepeatEndless = 0xFFFFFFFFu;
// Tempo before the first tempo event.
constexpr double kDefaultTempo = 120.0;

// One instrument of a band: which patch a channel plays and how loud, where and with
// what pitch-bend range. Field meanings follow the band's instrument record.
struct BandInstrument {
    uint8_t channel = 0;
    uint32_t patch = 0; // bits 16-22 bank MSB, 8-14 bank LSB, 0-6 program, bit 31 drum kit
    uint32_t flags = 0; // which of the fields below are valid (kBand* flags)
    uint8_t volume = 100;
    uint8_t pan = 64;
    int16_t bendRange = 2; // semitones
    int collection = -1;   // index into Sequence::collections, -1 for none
};

// Band instrument flags that playback honours.
constexpr uint32_t kBandPatchValid = 0x0001;
constexpr uint32_t kBandBankValid = 0x0002;
constexpr uint32_t kBandPanValid = 0x0020;
constexpr uint32_t kBandVolumeValid = 0x0040;
constexpr uint32_t kBandBendRangeValid = 0x2000;

enum class MusicEventKind : uint8_t {
    Note,    // status 0x90 | channel, data1 key, data2 velocity, with a duration
    Channel, // any other channel message: status with channel, data1, data2
    Band,    // band change: `band` indexes Sequence::bands
};

struct MusicEvent {
    int32_t time = 0; // music time
    MusicEventKind kind = MusicEventKind::Channel;
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    int32_t duration = 0; // notes: music time until the note-off
    uint32_t band = 0;
};

struct TempoPoint {
    int32_t time = 0; // music time
    double bpm = kDefaultTempo;
};

// Music time to seconds and back, piecewise constant tempo.
class TempoMap {
  public:
    TempoMap() = default;
    // Points in any order; later points at the same time win; tempos outside
    // [1, 10000] beats per minute and points before time 0 are dropped.
    explicit TempoMap(std::vector<TempoPoint> points);

    double SecondsAt(double musicTime) const;
    double MusicTimeAt(double seconds) const;
    double TempoAt(double musicTime) const;
    const std::vector<TempoPoint>& Points() const { return points_; }

  private:
    std::vector<TempoPoint> points_; // sorted, first at time 0
    std::vector<double> seconds_;    // seconds at each point
};

struct Sequence {
    std::vector<MusicEvent> events; // by time; equal times keep file order
    std::vector<std::vector<BandInstrument>> bands;
    std::vector<std::string> collections; // DLS file names the bands refer to
    TempoMap tempo;
    int32_t length = 0;   // music time of the end
    uint32_t repeats = 0; // kRepeatEndless repeats without end
    int32_t loopStart = 0;
    int32_t loopEnd = 0;     // 0: the loop is the whole sequence
    bool loopMarked = false; // the source marked a loop (even without a repeat count)
    int beatsPerBar = 4;     // first time signature: numerator
    int beatUnit = 4;        // and the note value of its beat

    // Music time of one bar of the first time signature.
    int32_t BarLength() const {
        return beatsPerBar * (kTicksPerQuarter * 4 / (beatUnit > 0 ? beatUnit : 4));
    }

    // Sorts the events by time, keeping the order of equal times.
    void SortEvents();
};

// The loop as it plays: [start, end) within [0, length]; empty when it cannot loop.
struct LoopRange {
    int32_t start = 0;
    int32_t end = 0;
    bool Valid() const { return end > start; }
};
LoopRange EffectiveLoop(const Sequence& sequence);

// An event as the sequencer dispatches it, stamped with its output frame.
struct OutputEvent {
    enum class Kind : uint8_t {
        NoteOn,
        NoteOff,
        Channel,
        Band,
        ResetChannels,
        AllSoundsOff,
        SegmentStart,
        SegmentLoop,
        SegmentEnd
    };
    Kind kind = Kind::Channel;
    int64_t frame = 0;  // frames from the start of playback
    uint8_t status = 0; // Channel: full status byte; notes: channel in the low nibble
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    const BandInstrument* instrument = nullptr; // Band: one instrument of the band
    int32_t musicTime = 0;                      // position within the segment
    uint32_t loopsDone = 0;                     // SegmentLoop: loops completed so far

    uint8_t Channel() const { return static_cast<uint8_t>(status & 0x0F); }
};

class EventSink {
  public:
    virtual ~EventSink() = default;
    virtual void Dispatch(const OutputEvent& event) = 0;
};

} // namespace sonvex
