// SPDX-License-Identifier: GPL-3.0-or-later
// Translates one sequence's events into SMF track bytes: copies notes, program changes,
// pitch bends and a fixed set of controllers, drops the rest while keeping their time,
// inserts bank selects, and turns the loop controllers into markers and a count text.
#pragma once

#include <cstdint>
#include <string>

#include "platform/result_code.h"
#include "seq2smf/seq_format.h"
#include "seq2smf/smf_rules.h"
#include "seq2smf/smf_writer.h"

namespace sonvex {

enum class [[nodiscard]] TrackOutcome{
    Ended,         // the end-of-track event has been written
    DeltaTooLarge, // a delta time above 0x0FFFFFFF
    InputEnded,    // the game file ended inside an event
    WriteFailed    // the output file layer refused bytes
};

class SeqTranslator {
  public:
    // The running status lives in the reader; Reset clears it with the rest.
    SeqTranslator(ChunkFile& source, SeqDialect dialect, SmfRules rules = SmfRules::Extended)
        : reader_(source, dialect), dialect_(dialect), rules_(rules) {}

    // Back to the state at the start of a sequence.
    void Reset();

    // Reads events from the source's current position and writes them to `out` until the
    // end-of-track event has been written or something fails. `errorOffset` receives
    // the source offset of the event that failed.
    [[nodiscard]] TrackOutcome TranslateTrack(SmfWriter& out, int64_t* errorOffset = nullptr);

  private:
    void Translate(const SeqEvent& event, SmfWriter& out);
    void TranslateControl(const SeqEvent& event, SmfWriter& out);
    // Writes the event's delta with the pending delta, then clears the pending delta.
    void WriteDelta(const SeqEvent& event, SmfWriter& out);
    // The event produces nothing; its delta replaces the pending delta.
    void Drop(const SeqEvent& event) { pendingDelta_ = event.delta; }
    void WriteLoopCount(uint8_t value, SmfWriter& out);
    // Bank select 0 (LSB 1) unless one was written before, each part with delta 0 after
    // the first.
    void WriteFirstBankSelect(int channel, SmfWriter& out);

    SeqEventReader reader_;
    SeqDialect dialect_;
    SmfRules rules_;
    uint32_t pendingDelta_ = 0; // ticks of the last dropped event
    bool bankSent_[16] = {};    // bank select written before the channel's first program change
    bool programSet_[16] = {};  // extended rules: the channel has a program (its own or default)
    uint8_t nrpnMsb_ = 0x7F;    // last value of controller 99
    bool loopStartWritten_ = false; // "Loop_Start" written for controller 99 value 20
    bool loopEndWritten_ = false;   // "Loop_End" written for controller 99 value 30
    bool loopCountWritten_ = false; // loop-count text written
    bool loopToggleOpen_ = false; // controller 99 value 40 opened a loop its next occurrence closes
};

// One track translated into the SMF `out` has begun at `path`, and the file finished.
// Done, or the file abandoned and the result with the reason, said for `item`:
// CannotConvert (a delta above 0x0FFFFFFF), InputEnded, OpenFailed (writing failed; the
// caller shows its own message).
struct TrackWrite {
    ConvertResult result = ConvertResult::Done;
    std::string failure;
};
[[nodiscard]] TrackWrite WriteTrack(SeqTranslator& translator, SmfWriter& out,
                                    const std::string& item, const std::string& path);

// Microseconds per quarter note for an "SSsq" tempo in beats per minute:
// 60 / bpm * 1 000 000 in double precision, truncated. Tempos too slow for 24 bits
// (below 4 beats per minute, and 0) give the slowest tempo an SMF holds, 0xFFFFFF.
uint32_t MicrosecondsPerQuarter(uint32_t beatsPerMinute);

} // namespace sonvex
