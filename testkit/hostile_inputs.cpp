// SPDX-License-Identifier: GPL-3.0-or-later
// The hostile input recipes: sound items from the testkit builders, then damaged in
// every way a reader must survive.
#include "testkit/hostile_inputs.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>

#include "testkit/adpcm_encoder.h"
#include "testkit/convert_list_builder.h"
#include "testkit/dls_builder.h"
#include "testkit/game_image.h"
#include "testkit/seq_builder.h"
#include "testkit/smf_builder.h"
#include "testkit/vab_builder.h"

namespace sonvex::testkit {

namespace {

void PutU32le(Bytes& bytes, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i) {
        bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

void PutU16le(Bytes& bytes, size_t at, uint32_t v) {
    for (size_t i = 0; i < 2 && at + i < bytes.size(); ++i) {
        bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

uint32_t GetU32le(const Bytes& bytes, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i) {
        v |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
    }
    return v;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// A sequence of every event kind the converters translate, with a loop marker.
SeqTrack Song() {
    return SeqTrack()
        .program(0, 0, 3)
        .control(0, 0, 7, 100)
        .control(0, 0, 99, 20)
        .noteOn(0, 0, 60, 100)
        .running(96, {60, 0})
        .pitchBend(0, 1, 0, 0x48)
        .tempo(10, 450000)
        .control(30, 0, 99, 30)
        .endOfTrack(0);
}

SeqTrack SsqSong() {
    return SeqTrack()
        .program(0, 2, 7)
        .noteOn(0, 2, 48, 90)
        .running(96, {48, 0})
        .pitchBend1(4, 2, 0x50)
        .tempoBpm(10, 140)
        .endOfTrack(0);
}

std::vector<int16_t> Wave(size_t n, int step) {
    std::vector<int16_t> pcm(n);
    for (size_t i = 0; i < n; ++i) {
        pcm[i] = static_cast<int16_t>(static_cast<int>(i % 28) * step - 14 * step);
    }
    return pcm;
}

// End of the last tone record the sound VH uses: program 1's second tone.
constexpr size_t kSoundVhToneEnd = 2080 + 512 + 64;

VabBuilder SoundVabBuilder() {
    VabBuilder vab;
    vab.program(0, Program({Tone(1, 0, 59), Tone(2, 60, 127)}));
    vab.program(1, Program({Tone(3), Tone(1, 30, 40)}));
    vab.sample(MakeVag(Wave(56, 300)));
    VagShape looped;
    looped.loopStartBlock = 0;
    looped.loopEndBlock = 1;
    vab.sample(MakeVag(Wave(56, 500), looped));
    VagShape skipped;
    skipped.skipBlockAtEnd = true;
    vab.sample(MakeVag(Wave(84, 200), skipped));
    return vab;
}

// Where each size field of a RIFF tree lies, and the extent its chunk may have.
struct SizeField {
    size_t at = 0;     // offset of the 4-byte size
    bool list = false; // a LIST or RIFF chunk
    size_t start = 0;  // offset of the chunk header
};

void CollectSizeFields(const Bytes& riff, size_t begin, size_t end, std::vector<SizeField>& out,
                       int depth) {
    size_t at = begin;
    while (at + 8 <= end && depth < 64) {
        const uint32_t id = GetU32le(riff, at);
        const uint32_t size = GetU32le(riff, at + 4);
        const bool list = id == Id("RIFF") || id == Id("LIST");
        out.push_back({at + 4, list, at});
        const size_t dataEnd = std::min<size_t>(end, at + 8 + static_cast<size_t>(size));
        if (list && at + 12 <= dataEnd) {
            CollectSizeFields(riff, at + 12, dataEnd, out, depth + 1);
        }
        at = at + 8 + static_cast<size_t>(size) + (size & 1);
    }
}

SeqSetImage SoundSeqSetImage() {
    std::vector<NumberedSeq> set;
    for (uint16_t id = 0; id < 3; ++id) {
        set.push_back({id, SeqTiming{static_cast<uint16_t>(96 * (id + 1)), 500000, 3, 2}, Song()});
    }
    return BuildSeqSet(set);
}

} // namespace

std::vector<HostileInput> EveryTruncation(std::string_view label, const Bytes& whole,
                                          uint64_t offset) {
    std::vector<HostileInput> out;
    out.reserve(whole.size());
    for (size_t n = 0; n < whole.size(); ++n) {
        out.push_back({std::string(label) + " cut at " + std::to_string(n),
                       Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)),
                       offset});
    }
    return out;
}

Bytes SoundSingleSeq() {
    return BuildSingleSeq(SeqTiming{}, Song());
}

Bytes SoundSeqSet() {
    return SoundSeqSetImage().bytes;
}

Bytes SoundSsqItem() {
    return BuildSsq(96, 120, SsqSong());
}

Bytes SoundConvertList() {
    return ConvertListBuilder()
        .folder("/games")
        .entry(0x00514553, 0, 0x10, "game.bin")   // "SEQ"
        .entry(0x00004856, 0, 0x200, "game.bin")  // "VH"
        .entry(0x00004256, 0, 0x1200, "game.bin") // "VB"
        .build();
}

Bytes SoundSmf() {
    return SmfBuilder(480)
        .writerPreamble(500000, 4, 2)
        .program(0, 0, 5)
        .text(0, "003")
        .marker(0, "Loop_Start")
        .control(0, 0, 7, 90)
        .noteOn(0, 0, 60, 100)
        .bend(10, 0, 0x3000)
        .noteOff(100, 0, 60)
        .sysex(0, {0x7E, 0x7F, 0xF7})
        .marker(0, "Loop_End")
        .endOfTrack(20)
        .build();
}

Bytes SoundDls() {
    DlsInstrument five;
    five.number = 5;
    five.trailer = {100, 64, 0, 2, 12};
    DlsInstrument seven;
    seven.number = 7;
    seven.regions = 2;
    return DlsBuilder().instrument(five).instrument(seven).build();
}

Bytes SoundVh() {
    return SoundVabBuilder().BuildVh();
}
Bytes SoundVb() {
    return SoundVabBuilder().BuildVb();
}

std::vector<HostileInput> HostileConvertLists() {
    std::vector<HostileInput> out = EveryTruncation("list", SoundConvertList());
    const std::string longName(254, 'n');
    auto three = [] {
        return ConvertListBuilder()
            .entry(0x00514553, 0, 0x10, "game.bin")
            .entry(0x00004856, 0, 0x200, "game.bin")
            .entry(0x00004256, 0, 0x1200, "game.bin");
    };
    out.push_back({"count 0xFFFFFFFF over three entries", three().count(0xFFFFFFFFu).build()});
    out.push_back({"count 0 over three entries", three().count(0).build()});
    out.push_back({"folder length 255 running into the entries", three().pathLength(255).build()});
    out.push_back({"folder length 0", three().pathLength(0).build()});
    out.push_back({"last name length 255 past the end", three().nameLength(255).build()});
    out.push_back({"name length 0", three().nameLength(0).build()});
    out.push_back({"name without its NUL", three().nameWithoutNul().build()});
    out.push_back({"254-character folder and name", ConvertListBuilder()
                                                        .folder(std::string(254, 'f'))
                                                        .entry(0x00514553, 0, 0, longName)
                                                        .build()});
    out.push_back(
        {"offsets at 2^64 - 1 and 2^63", ConvertListBuilder()
                                             .entry(0x00514553, 0, UINT64_MAX, "game.bin")
                                             .entry(0x00004856, 0, uint64_t{1} << 63, "game.bin")
                                             .entry(0x00004256, 0, 0xFFFFFFFFu, "game.bin")
                                             .build()});
    out.push_back({"numbers at both ends of 32 bits and unknown codes",
                   ConvertListBuilder()
                       .entry(0x00514553, INT32_MIN, 0, "game.bin")
                       .entry(0xFFFFFFFFu, INT32_MAX, 4, "game.bin")
                       .entry(0, -1, 8, "game.bin")
                       .build()});
    out.push_back({"entries in falling offset order", ConvertListBuilder()
                                                          .entry(0x00004256, 0, 0x1000, "game.bin")
                                                          .entry(0x00004856, 0, 0x10, "game.bin")
                                                          .entry(0x00514553, 0, 0x8, "game.bin")
                                                          .build()});
    out.push_back({"a VH followed by a VH and no VB", ConvertListBuilder()
                                                          .entry(0x00004856, 0, 0, "game.bin")
                                                          .entry(0x00004856, 1, 0, "game.bin")
                                                          .build()});
    out.push_back({"only a header of 0xFF", Bytes(5, 0xFF)});
    return out;
}

std::vector<HostileInput> HostileSeqItems() {
    std::vector<HostileInput> out;
    for (HostileInput& cut : EveryTruncation("single sequence", SoundSingleSeq())) {
        cut.expected = 2;
        out.push_back(std::move(cut));
    }
    const SeqSetImage set = SoundSeqSetImage();
    for (HostileInput& cut : EveryTruncation("numbered set", set.bytes)) {
        // Inside the first sequence nothing can be completed; later cuts complete some.
        cut.expected = cut.bytes.size() < set.trackEnds.front() ? 2 : kAnyResult;
        out.push_back(std::move(cut));
    }

    // Delta times: the largest that fits, one past it, and encodings longer than four bytes.
    auto single = [](const SeqTrack& track) { return BuildSingleSeq(SeqTiming{}, track); };
    HostileInput atLimit{
        "delta 0x0FFFFFFF",
        single(SeqTrack().raw({0xFF, 0xFF, 0xFF, 0x7F, 0x90, 60, 1}).endOfTrack())};
    atLimit.expected = 0;
    out.push_back(atLimit);
    HostileInput past{
        "delta 0x10000000",
        single(SeqTrack().raw({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1}).endOfTrack())};
    past.expected = 1;
    out.push_back(past);
    HostileInput overlong{"delta of 1000 continuation bytes", single(SeqTrack())};
    overlong.bytes.insert(overlong.bytes.end(), 1000, 0x80);
    overlong.bytes.push_back(0x00);
    overlong.bytes.insert(overlong.bytes.end(), {0xFF, 0x2F, 0x00});
    out.push_back(overlong);
    HostileInput endless{"continuation bytes up to the end of the file", single(SeqTrack())};
    endless.bytes.insert(endless.bytes.end(), 4096, 0x80);
    endless.expected = 2;
    out.push_back(endless);
    HostileInput noEnd{"events without an end of track", single(SeqTrack())};
    for (int i = 0; i < 2000; ++i) {
        noEnd.bytes.insert(noEnd.bytes.end(), {0x00, 0x90, static_cast<uint8_t>(i & 0x7F), 0x40});
    }
    noEnd.expected = 2;
    out.push_back(noEnd);
    HostileInput metaLength{"meta event announcing 255 bytes at the end",
                            single(SeqTrack().event(0, {0xFF, 0x01, 0xFF}))};
    out.push_back(metaLength);

    // Numbered sets whose ids loop back, stand still, jump or run past 16.
    auto setOf = [](std::vector<uint16_t> ids) {
        std::vector<NumberedSeq> seqs;
        for (uint16_t id : ids) {
            seqs.push_back({id, SeqTiming{}, SeqTrack().noteOn(1, 0, 40, 64).endOfTrack(1)});
        }
        return BuildSeqSet(seqs).bytes;
    };
    out.push_back({"set with ids 0 1 0 1", setOf({0, 1, 0, 1})});
    out.push_back({"set with ids 0 0 0", setOf({0, 0, 0})});
    out.push_back({"set with ids 0 2", setOf({0, 2})});
    std::vector<uint16_t> many;
    for (uint16_t id = 0; id < 40; ++id) {
        many.push_back(id);
    }
    out.push_back({"set with ids 0 to 39", setOf(many)});
    std::vector<uint16_t> highIds = {0, 1, 0xFFFF, 0};
    out.push_back({"set with id 0xFFFF", setOf(highIds)});
    // The data length of every sequence at its maximum; it is never followed.
    {
        std::vector<NumberedSeq> seqs;
        for (uint16_t id = 0; id < 3; ++id) {
            seqs.push_back({id, SeqTiming{}, SeqTrack().noteOn(1, 0, 40, 64).endOfTrack(1)});
        }
        const SeqSetImage image = BuildSeqSet(seqs);
        Bytes bytes = image.bytes;
        size_t start = 6; // "pQES" and the 2-byte version
        for (size_t i = 0; i < image.trackEnds.size(); ++i) {
            const size_t lengthAt = start + 2 + 7;
            for (size_t k = 0; k < 4; ++k) {
                bytes[lengthAt + k] = 0xFF;
            }
            start = image.trackEnds[i];
        }
        out.push_back({"set with data lengths 0xFFFFFFFF", bytes});
    }
    // Division and tempo at their extremes.
    out.push_back({"division 0 and tempo 0", BuildSingleSeq(SeqTiming{0, 0, 0, 0}, Song())});
    out.push_back({"division 0xFFFF and tempo 0xFFFFFF",
                   BuildSingleSeq(SeqTiming{0xFFFF, 0xFFFFFF, 255, 255}, Song())});
    // Item positions: in the last bytes of the file and past its end.
    HostileInput tail{"magic in the last four bytes",
                      Concat({Bytes(20, 0x11), Bytes{'p', 'Q', 'E', 'S'}}), 20};
    tail.expected = 2;
    out.push_back(tail);
    HostileInput beyond{"offset past the end of the file", SoundSingleSeq(), 1u << 20};
    beyond.expected = 2;
    out.push_back(beyond);
    HostileInput far{"offset near 2^64", SoundSingleSeq(), UINT64_MAX - 8};
    far.expected = 2;
    out.push_back(far);
    return out;
}

std::vector<HostileInput> HostileSsqItems() {
    std::vector<HostileInput> out;
    for (HostileInput& cut : EveryTruncation("SSsq item", SoundSsqItem(), kSsqMagicOffset)) {
        // The header block and the first event bytes are read before anything is written.
        cut.expected = 2;
        out.push_back(std::move(cut));
    }
    const Bytes sound = SoundSsqItem();
    for (uint64_t at : {0u, 1u, 15u}) {
        HostileInput low{"magic taken at " + std::to_string(at), sound, at};
        low.expected = 1;
        out.push_back(low);
    }
    HostileInput past{
        "SSsq with a delta of 0x10000000",
        BuildSsq(96, 120, SeqTrack().raw({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1}).endOfTrack()),
        kSsqMagicOffset};
    past.expected = 1;
    out.push_back(past);
    HostileInput zeroTempo{"SSsq with division 0 and tempo 0", BuildSsq(0, 0, SsqSong()),
                           kSsqMagicOffset};
    out.push_back(zeroTempo);
    HostileInput hugeTempo{"SSsq with tempo 0xFFFFFFFF", BuildSsq(0xFFFF, 0xFFFFFFFFu, SsqSong()),
                           kSsqMagicOffset};
    out.push_back(hugeTempo);
    HostileInput beyond{"SSsq offset past the end", sound, 1u << 20};
    beyond.expected = 2;
    out.push_back(beyond);
    return out;
}

std::vector<HostileBank> HostileBanks() {
    std::vector<HostileBank> out;
    const Bytes vh = SoundVh();
    const Bytes vb = SoundVb();
    for (HostileInput& cut : EveryTruncation("VH", vh)) {
        // The header, both program records and the tone records in use are read.
        const int expected = cut.bytes.size() < kSoundVhToneEnd ? 2 : kAnyResult;
        out.push_back({cut.name, std::move(cut.bytes), vb, 0, 0, expected});
    }
    for (HostileInput& cut : EveryTruncation("VB", vb)) {
        out.push_back({cut.name, vh, std::move(cut.bytes), 0, 0, kAnyResult});
    }

    auto patched = [&](const std::string& name, const std::function<void(Bytes&)>& change,
                       int expected) {
        Bytes damaged = vh;
        change(damaged);
        out.push_back({name, std::move(damaged), vb, 0, 0, expected});
    };
    patched(
        "program count 0xFFFF", [](Bytes& b) { PutU16le(b, 18, 0xFFFF); }, 1);
    patched(
        "tone count 0xFFFF", [](Bytes& b) { PutU16le(b, 20, 0xFFFF); }, 1);
    patched(
        "VAG count 0xFFFF", [](Bytes& b) { PutU16le(b, 22, 0xFFFF); }, 1);
    patched(
        "128 programs whose tone records lie past the end",
        [](Bytes& b) {
            PutU16le(b, 18, 128);
            PutU16le(b, 20, 2048);
            for (int slot = 0; slot < 128; ++slot) {
                b[static_cast<size_t>(32 + 16 * slot)] = 16;
            }
        },
        2);
    patched(
        "a program of 17 tones", [](Bytes& b) { b[32] = 17; }, 1);
    patched(
        "a program of 255 tones", [](Bytes& b) { b[32] = 255; }, 1);
    auto toneField = [&](const std::string& name, size_t field, uint32_t value, bool wide,
                         int expected) {
        patched(
            name,
            [=](Bytes& b) {
                const size_t at = 2080 + field;
                if (wide) {
                    PutU16le(b, at, value);
                } else {
                    b[at] = static_cast<uint8_t>(value);
                }
            },
            expected);
    };
    toneField("VAG number 200 past the three samples", 22, 200, true, kAnyResult);
    toneField("VAG number 255 (no sample)", 22, 255, true, kAnyResult);
    toneField("VAG number 256", 22, 256, true, 1);
    toneField("VAG number -1", 22, 0xFFFF, true, kAnyResult);
    toneField("VAG number -32768", 22, 0x8000, true, kAnyResult);
    toneField("key range 127 down to 0", 6, 127, false, kAnyResult);
    toneField("low key 255", 6, 255, false, kAnyResult);
    toneField("centre note 255 and fine tune 255", 4, 0xFFFF, true, kAnyResult);
    toneField("bend ranges 255", 12, 0xFFFF, true, kAnyResult);
    toneField("ADSR words 0xFFFF", 16, 0xFFFF, true, kAnyResult);
    patched(
        "ADSR second word 0xFFFF", [](Bytes& b) { PutU16le(b, 2080 + 18, 0xFFFF); }, kAnyResult);
    patched(
        "sample sizes 0xFFFF",
        [](Bytes& b) {
            for (size_t at = b.size() - 512; at + 1 < b.size(); at += 2) {
                PutU16le(b, at, 0xFFFF);
            }
        },
        kAnyResult);

    out.push_back({"VB of zeros", vh, Bytes(4096, 0), 0, 0, kAnyResult});
    ByteBuilder noise;
    noise.noise(4096, 77);
    out.push_back({"VB of noise", vh, noise.take(), 0, 0, kAnyResult});
    ByteBuilder skips;
    skips.fill(16, 0);
    for (int i = 0; i < 256; ++i) {
        skips.u8(0).u8(7).fill(14, 0x11);
    }
    out.push_back({"VB of skip blocks", vh, skips.take(), 0, 0, kAnyResult});
    ByteBuilder starts;
    for (int i = 0; i < 300; ++i) {
        starts.fill(16, 0).u8(0).u8(2).fill(14, 0x22).u8(0).u8(3).fill(14, 0x33);
    }
    out.push_back({"VB of 300 short samples", vh, starts.take(), 0, 0, kAnyResult});
    out.push_back({"empty VH and VB files", Bytes{}, Bytes{}, 0, 0, 2});
    out.push_back({"VH offset past the end", vh, vb, vh.size() + 100, 0, 2});
    out.push_back({"VH offset near 2^64", vh, vb, UINT64_MAX - 4, 0, 2});
    out.push_back({"VB offset past the end", vh, vb, 0, vb.size() + 100, kAnyResult});
    out.push_back({"VB offset near 2^64", vh, vb, 0, UINT64_MAX - 4, kAnyResult});
    return out;
}

std::vector<HostileInput> HostileSmfs() {
    std::vector<HostileInput> out;
    const Bytes sound = SoundSmf();
    // Every byte up to the end of track is read; the pad byte after an odd track is not.
    const size_t trackEnd =
        22 + (static_cast<size_t>(sound[18]) << 24 | static_cast<size_t>(sound[19]) << 16 |
              static_cast<size_t>(sound[20]) << 8 | sound[21]);
    for (HostileInput& cut : EveryTruncation("SMF", sound)) {
        cut.expected = cut.bytes.size() < trackEnd ? 44 : kAnyResult;
        out.push_back(std::move(cut));
    }
    auto song = [](const std::function<void(SmfBuilder&)>& middle) {
        SmfBuilder smf(480);
        smf.writerPreamble(500000, 4, 2).program(0, 0, 5).noteOn(0, 0, 60, 100);
        middle(smf);
        smf.noteOff(10, 0, 60).endOfTrack(0);
        return smf.build();
    };
    auto rejected = [&](const std::string& name, const std::function<void(SmfBuilder&)>& middle) {
        HostileInput item{name, song(middle)};
        item.expected = 44;
        out.push_back(std::move(item));
    };
    rejected("running status", [](SmfBuilder& s) { s.raw({0x05, 61, 80}); });
    rejected("polyphonic pressure", [](SmfBuilder& s) { s.event(0, 0xA0, {60, 10}); });
    rejected("channel pressure", [](SmfBuilder& s) { s.event(0, 0xD3, {10}); });
    for (uint8_t status :
         std::initializer_list<uint8_t>{0xF1, 0xF2, 0xF3, 0xF6, 0xF7, 0xF8, 0xFA, 0xFE}) {
        rejected("system status " + std::to_string(status),
                 [status](SmfBuilder& s) { s.event(0, status, {0}); });
    }
    for (uint8_t controller : std::initializer_list<uint8_t>{2, 6, 100, 101, 121, 127}) {
        rejected("controller " + std::to_string(controller),
                 [controller](SmfBuilder& s) { s.control(0, 0, controller, 1); });
    }
    for (uint8_t type :
         std::initializer_list<uint8_t>{0x00, 0x04, 0x05, 0x20, 0x21, 0x54, 0x59, 0x7F}) {
        rejected("meta type " + std::to_string(type),
                 [type](SmfBuilder& s) { s.meta(0, type, {1}); });
    }
    rejected("tempo with two data bytes", [](SmfBuilder& s) { s.meta(0, 0x51, {0x07, 0xA1}); });
    rejected("delta time 0x10000000", [](SmfBuilder& s) {
        s.raw({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 62, 1});
    });
    rejected("system exclusive of 0x0FFFFFFF bytes", [](SmfBuilder& s) {
        s.raw({0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0x7F});
    });
    rejected("meta event of 255 bytes at the end", [](SmfBuilder& s) {
        s.raw({0x00, 0xFF, 0x01, 0xFF, 'x'});
    });
    rejected("music time past 32 bits", [](SmfBuilder& s) {
        for (int i = 0; i < 16; ++i) {
            s.noteOn(0x0FFFFFFF, 1, 40, 1);
        }
    });

    HostileInput endless{"delta of continuation bytes to the end of the file",
                         SmfBuilder(480).program(0, 0, 5).raw(Bytes(300, 0x80)).build()};
    endless.expected = 44;
    out.push_back(endless);
    // Header and track-length fields of the sound SMF set to extremes: the bytes from
    // `offset` replaced by `value`.
    const struct {
        const char* name;
        size_t offset;
        Bytes value;
        int expected;
    } fields[] = {
        {"header length 0xFFFFFFFF", 4, {0xFF, 0xFF, 0xFF, 0xFF}, 44},
        {"65535 tracks", 10, {0xFF, 0xFF}, 44},
        {"format 0xFFFF", 8, {0xFF, 0xFF}, 44},
        {"division 0", 12, {0, 0}, 44},
        {"division 0xFFFF", 12, {0xFF, 0xFF}, kAnyResult},
        {"track length 0xFFFFFFFF", 18, {0xFF, 0xFF, 0xFF, 0xFF}, kAnyResult},
    };
    for (const auto& f : fields) {
        HostileInput patched{f.name, sound};
        std::copy(f.value.begin(), f.value.end(),
                  patched.bytes.begin() + static_cast<std::ptrdiff_t>(f.offset));
        patched.expected = f.expected;
        out.push_back(patched);
    }
    HostileInput notes{"40 notes sounding at once", song([](SmfBuilder& s) {
                           for (uint8_t n = 0; n < 40; ++n) {
                               s.noteOn(0, static_cast<uint8_t>(n % 16),
                                        static_cast<uint8_t>(20 + n), 90);
                           }
                       })};
    out.push_back(notes);
    HostileInput empty{"0-byte SMF", Bytes{}};
    empty.expected = 44;
    out.push_back(empty);
    return out;
}

std::vector<HostileInput> RiffDamage(std::string_view label, const Bytes& riff, size_t depth) {
    std::vector<HostileInput> out = EveryTruncation(label, riff);
    const std::string base(label);
    std::vector<SizeField> fields;
    CollectSizeFields(riff, 0, riff.size(), fields, 0);
    for (const SizeField& field : fields) {
        const std::string where = base + " size at " + std::to_string(field.at);
        const uint32_t remaining = static_cast<uint32_t>(riff.size() - (field.at + 4));
        const uint32_t start = static_cast<uint32_t>(field.start);
        const uint32_t dataOffset = static_cast<uint32_t>(field.at + 4);
        // 0xFFFFFFFF; one byte past the end; 0; a size that, added in 32 bits to the data
        // offset, lands on the chunk's own header again.
        const std::vector<std::pair<std::string, uint32_t>> values = {
            {" = 0xFFFFFFFF", 0xFFFFFFFFu},
            {" one past the end", remaining + 1},
            {" = 0", 0},
            {" wrapping back to its own header", start - dataOffset},
        };
        for (const auto& [what, value] : values) {
            HostileInput item{where + what, riff};
            PutU32le(item.bytes, field.at, value);
            out.push_back(std::move(item));
        }
        if (field.list) {
            HostileInput shortList{where + " = 3 (shorter than its type)", riff};
            PutU32le(shortList.bytes, field.at, 3);
            out.push_back(std::move(shortList));
        }
    }

    // Lists nested `depth` deep inside the form, all of the type of the form's first list.
    const uint32_t form = GetU32le(riff, 8);
    uint32_t listType = Id("deep");
    for (const SizeField& field : fields) {
        if (field.list && field.start > 0) {
            listType = GetU32le(riff, field.start + 8);
            break;
        }
    }
    ByteBuilder nested;
    nested.text("RIFF").u32le(static_cast<uint32_t>(4 + depth * 12)).u32le(form);
    for (size_t level = 0; level < depth; ++level) {
        nested.text("LIST").u32le(static_cast<uint32_t>((depth - level) * 12 - 8)).u32le(listType);
    }
    out.push_back({base + " with lists nested " + std::to_string(depth) + " deep", nested.take()});

    // A chain of empty chunks: many chunks, each the minimum, for readers that count.
    ByteBuilder chain;
    const size_t links = 100000;
    chain.text("RIFF").u32le(static_cast<uint32_t>(4 + links * 8)).u32le(form);
    for (size_t i = 0; i < links; ++i) {
        chain.text("JUNK").u32le(0);
    }
    out.push_back({base + " with 100000 empty chunks", chain.take()});
    return out;
}

std::vector<HostileInput> HostileGameImages() {
    std::vector<HostileInput> out;
    auto cutItem = [&](const std::string& label, const std::function<void(GameImage&)>& add) {
        GameImage image(7);
        image.Noise(24);
        add(image);
        for (HostileInput& cut : EveryTruncation(label, image.bytes())) {
            // Prefixes that end inside the noise in front are the same for every kind.
            if (cut.bytes.size() >= 24) {
                out.push_back(std::move(cut));
            }
        }
    };
    cutItem("pQES single", [](GameImage& g) { g.Seq(3); });
    cutItem("pQES set", [](GameImage& g) { g.SeqSet(3, 2); });
    cutItem("SSsq", [](GameImage& g) { g.GpmSeq(3); });
    cutItem("SShd", [](GameImage& g) { g.GpmHead(20); });
    cutItem("SCEI head", [](GameImage& g) { g.SceiHead(20); });
    cutItem("SCEI MIDI", [](GameImage& g) { g.SceiMidi(20); });
    cutItem("VH", [](GameImage& g) { g.Vh(2, 2, 3); });
    cutItem("VB", [](GameImage& g) { g.Vb(3, 3); });
    cutItem("KCET", [](GameImage& g) { g.Kcet(3); });

    for (const char* magic : {"pQES", "pBAV", "SSsq", "SShd", "KCET", "IECSdaeH", "IECSidiM"}) {
        const std::string text(magic);
        ByteBuilder tail;
        tail.fill(40, 0x11).text(text);
        out.push_back({"signature " + text + " in the last bytes", tail.take()});
    }
    ByteBuilder lastBody;
    lastBody.fill(40, 0x11).fill(16, 0).u8(0).u8(2);
    out.push_back({"bank body start in the last bytes", lastBody.take()});

    ByteBuilder counts;
    counts.fill(16, 0x11)
        .text("pBAV")
        .u32le(7)
        .u32le(0)
        .u32le(0)
        .u16le(0xFFFF)
        .u16le(0xFFFF)
        .u16le(0xFFFF)
        .fill(8, 0);
    out.push_back({"VH with every count 0xFFFF", counts.take()});
    ByteBuilder kcet;
    kcet.text("KCET").fill(4, 0x11).text("TSDB").fill(8, 0x11).text("KDT2").fill(12, 0x11);
    kcet.text("KDT1").fill(8, 0x11).u32le(0xFFFFFFFFu).fill(4096, 0xFF);
    out.push_back({"KCET with 0xFFFFFFFF blocks", kcet.take()});

    for (const char* magic : {"pQES", "pBAV", "SSsq", "KCET"}) {
        ByteBuilder repeated;
        for (int i = 0; i < 2000; ++i) {
            repeated.text(magic);
        }
        out.push_back({std::string("only ") + magic + " signatures", repeated.take()});
    }
    ByteBuilder bodies;
    for (int i = 0; i < 500; ++i) {
        bodies.fill(16, 0).u8(0).u8(2).fill(14, 0x01);
    }
    out.push_back({"bank body starts back to back without ends", bodies.take()});
    out.push_back({"0-byte file", Bytes{}});
    return out;
}

} // namespace sonvex::testkit
