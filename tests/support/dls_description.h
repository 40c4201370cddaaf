// SPDX-License-Identifier: GPL-3.0-or-later
// DLS collections described field by field (Level 1 or 2, our own layout or a foreign
// one), built into bytes for the DLS reader's tests and the playback tests.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/dls.h"
#include "testkit/byte_builder.h"

namespace sonvex::playtest {

using testkit::Bytes;

struct TestLoop {
    uint32_t type = 0;
    uint32_t start = 0;
    uint32_t length = 0;
};

// A "wsmp" chunk. Without a loop, `recordWithoutLoop` writes a loop record anyway with
// a loop count of 0, as the bank converter does.
struct TestSampleInfo {
    uint16_t unityNote = 60;
    int16_t fineTune = 0;
    int32_t attenuation = 0; // 1/65536 cB
    std::optional<TestLoop> loop;
    bool recordWithoutLoop = false;
};

struct TestConnection {
    uint16_t source = 0;
    uint16_t control = 0;
    uint16_t destination = 0;
    uint16_t transform = 0;
    int32_t scale = 0;
};

struct TestRegion {
    uint16_t keyLow = 0;
    uint16_t keyHigh = 127;
    uint16_t velocityLow = 0;
    uint16_t velocityHigh = 127;
    uint16_t keyGroup = 0;
    std::optional<TestSampleInfo> sample = TestSampleInfo{};
    uint32_t cue = 0;
    std::vector<TestConnection> articulation;
    bool level2 = true; // "lar2"/"art2", else "lart"/"art1"
};

struct TestInstrument {
    uint32_t bank = 1;
    uint32_t program = 0;
    std::string name = "inst";
    std::vector<TestRegion> regions;
    std::vector<TestConnection> articulation; // instrument level
    bool trailer = true;                      // five bytes behind the instrument blocks
};

struct TestWave {
    std::vector<int16_t> pcm;
    uint32_t sampleRate = 44100;
    uint16_t bits = 16; // 8 or 16
    std::optional<TestSampleInfo> sample;
};

struct TestCollection {
    std::vector<TestInstrument> instruments;
    std::vector<TestWave> waves;
    bool poolTable = true;
};

Bytes BuildDls(const TestCollection& collection);
std::shared_ptr<const DlsCollection> ReadBuilt(const TestCollection& collection);

// The six region blocks the bank converter writes, from seconds and a sustain level
// in tenths of a percent.
std::vector<TestConnection> ConverterArticulation(int32_t panScale, double attack, double release,
                                                  int32_t sustainTenths, double decay);
// trunc(log2(seconds) × 1200 × 65536), as the converter stores times.
int32_t StoredTime(double seconds);

} // namespace sonvex::playtest
