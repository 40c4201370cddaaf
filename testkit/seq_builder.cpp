// Sequence item builders for tests, fuzz seeds and benchmarks.
#include "testkit/seq_builder.h"

namespace sonvex::testkit {

namespace {

void WriteTiming(ByteBuilder& out, const SeqTiming& timing) {
    out.u16be(timing.division).u24be(timing.tempo).u8(timing.numerator).u8(timing.denominatorExponent);
}

} // namespace

Bytes BuildSingleSeq(const SeqTiming& timing, const SeqTrack& track, uint32_t version) {
    ByteBuilder out;
    out.text("pQES").u32be(version);
    WriteTiming(out, timing);
    out.append(track.bytes());
    return out.take();
}

SeqSetImage BuildSeqSet(const std::vector<NumberedSeq>& sequences, uint16_t version) {
    SeqSetImage image;
    ByteBuilder out;
    out.text("pQES").u16be(version);
    for (const NumberedSeq& sequence : sequences) {
        out.u16be(sequence.id);
        WriteTiming(out, sequence.timing);
        out.u32be(static_cast<uint32_t>(sequence.track.size()));
        out.append(sequence.track.bytes());
        image.trackEnds.push_back(out.size());
    }
    image.bytes = out.take();
    return image;
}

Bytes BuildSsq(uint16_t division, uint32_t beatsPerMinute, const SeqTrack& track) {
    ByteBuilder out;
    // Filler where the converter reads nothing: not zero, so that a misplaced read shows.
    out.noise(6, 0x5E51).u16le(division).u32le(beatsPerMinute).noise(4, 0x5E52);
    out.text("SSsq").noise(255, 0x5E53);
    out.append(track.bytes());
    return out.take();
}

} // namespace sonvex::testkit
