// SPDX-License-Identifier: GPL-3.0-or-later
// Sequence item builders for tests, fuzz seeds and benchmarks.
#include "testkit/seq_builder.h"

#include <algorithm>

namespace sonvex::testkit {

namespace {

void WriteTiming(ByteBuilder& out, const SeqTiming& timing) {
    out.u16be(timing.division)
        .u24be(timing.tempo)
        .u8(timing.numerator)
        .u8(timing.denominatorExponent);
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

Bytes WithReversedMagic(Bytes item) {
    static constexpr uint8_t kForward[4] = {'p', 'Q', 'E', 'S'};
    if (item.size() >= 4 && std::equal(kForward, kForward + 4, item.begin())) {
        std::reverse(item.begin(), item.begin() + 4);
    }
    return item;
}

Bytes BuildSsq(uint16_t division, uint32_t beatsPerMinute, const SeqTrack& track) {
    ByteBuilder out;
    // Filler where the converter reads nothing: not zero, so that a misplaced read shows.
    out.noise(6, 0x5E51).u16le(division).u32le(beatsPerMinute).noise(4, 0x5E52);
    out.text("SSsq").noise(255, 0x5E53);
    out.append(track.bytes());
    return out.take();
}

namespace {

SeqTrack LoopingSong() {
    return SeqTrack()
        .program(0, 0, 3)
        .control(0, 0, 0, 2)
        .control(0, 0, 1, 10)
        .control(0, 0, 7, 100)
        .control(0, 0, 10, 64)
        .control(0, 0, 11, 120)
        .control(0, 0, 12, 0)
        .control(0, 0, 64, 127)
        .control(0, 0, 91, 30)
        .control(0, 0, 99, 20)
        .control(0, 0, 6, 2)
        .noteOn(0, 0, 60, 100)
        .running(240, {60, 0})
        .pitchBend(0, 1, 0, 0x48)
        .control(5, 1, 121, 0)
        .tempo(10, 450000)
        .control(230, 0, 99, 30)
        .endOfTrack(0);
}

SeqTrack LoopingSsqSong() {
    return SeqTrack()
        .program(0, 2, 7)
        .control(0, 2, 99, 40)
        .control(0, 2, 98, 3)
        .noteOn(0, 2, 48, 90)
        .running(96, {48, 0})
        .pitchBend1(4, 2, 0x50)
        .tempoBpm(10, 140)
        .control(86, 2, 99, 40)
        .endOfTrack(0);
}

} // namespace

std::vector<SampleItem> SampleSeqItems() {
    std::vector<SampleItem> items;
    items.push_back(
        {"single sequence with loop markers", 0, BuildSingleSeq(SeqTiming{}, LoopingSong())});

    ByteBuilder embedded;
    embedded.noise(37, 1)
        .append(BuildSingleSeq(SeqTiming{96, 600000, 0, 0}, LoopingSong()))
        .noise(20, 2);
    items.push_back({"single sequence between noise", 37, embedded.take()});
    items.push_back(
        {"single sequence with an odd track", 0,
         BuildSingleSeq(SeqTiming{96, 600000, 0, 0}, SeqTrack().program(0, 2, 9).endOfTrack(1))});

    std::vector<NumberedSeq> set;
    for (uint16_t id = 0; id < 3; ++id) {
        set.push_back(
            {id, SeqTiming{static_cast<uint16_t>(120 * (id + 1)), 500000, 4, 2}, LoopingSong()});
    }
    set.push_back({7, SeqTiming{}, SeqTrack().endOfTrack(0)});
    items.push_back({"numbered set 0, 1, 2 ending at a gap", 0, BuildSeqSet(set).bytes});

    set.pop_back();
    items.push_back({"numbered set ending with the file", 0, BuildSeqSet(set).bytes});

    std::vector<NumberedSeq> full;
    for (uint16_t id = 0; id <= 16; ++id) {
        full.push_back({id, SeqTiming{}, SeqTrack().noteOn(1, id % 16, 40 + id, 64).endOfTrack(1)});
    }
    items.push_back({"numbered set running up to id 16", 0, BuildSeqSet(full).bytes});

    items.push_back({"dropped kinds and running status", 0,
                     BuildSingleSeq(SeqTiming{}, SeqTrack()
                                                     .event(1, {0x40, 0x41, 0x42})
                                                     .event(2, {0xA0})
                                                     .event(3, {0xF0})
                                                     .event(4, {0xFF, 0x01, 0x00})
                                                     .control(0x0FFFFFFF, 0, 70, 0)
                                                     .noteOn(0x0FFFFFFF, 0, 60, 1)
                                                     .running(1, {61, 1})
                                                     .endOfTrack(0))});
    return items;
}

std::vector<SampleItem> SampleSsqItems() {
    std::vector<SampleItem> items;
    items.push_back(
        {"SSsq with loop toggles", kSsqMagicOffset, BuildSsq(480, 120, LoopingSsqSong())});

    ByteBuilder embedded;
    embedded.noise(50, 3)
        .append(BuildSsq(96, 0, SeqTrack().tempoBpm(0, 0).noteOn(1, 0, 60, 1).endOfTrack(0)))
        .noise(9, 4);
    items.push_back({"SSsq with tempo 0 between noise", 50 + kSsqMagicOffset, embedded.take()});
    return items;
}

} // namespace sonvex::testkit
