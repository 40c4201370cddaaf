// SPDX-License-Identifier: GPL-3.0-or-later
// The SoundFont 2 writer: the bank is laid out in memory (INFO, sample data, the nine
// preset, instrument and sample tables) and written in one go to a temporary file.
#include "bank2dls/sf2_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

#include "chunkfile/chunk_file.h"
#include "chunkfile/file_system.h"

namespace sonvex {

namespace {

constexpr double kUnit = 65536.0;
// FluidSynth's factor on the initial attenuation generator.
constexpr double kAttenuationFactor = 0.4;

// A chunk body grows here; sizes are known before anything reaches the file.
class Body {
  public:
    void u8(uint8_t v) { bytes_.push_back(v); }
    void u16(uint16_t v) {
        u8(static_cast<uint8_t>(v));
        u8(static_cast<uint8_t>(v >> 8));
    }
    void u32(uint32_t v) {
        u16(static_cast<uint16_t>(v));
        u16(static_cast<uint16_t>(v >> 16));
    }
    void id(const char* fourCharacters) {
        for (int i = 0; i < 4; ++i) {
            u8(static_cast<uint8_t>(fourCharacters[i]));
        }
    }
    // A fixed-width name: the text cut to width - 1 bytes, zero filled.
    void name(const std::string& text, size_t width) {
        for (size_t i = 0; i < width; ++i) {
            u8(i + 1 < width && i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
        }
    }
    void append(const Body& other) {
        bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
    }
    // A chunk holding `data`, with a pad byte after odd data.
    void chunk(const char* chunkId, const Body& data) {
        id(chunkId);
        u32(static_cast<uint32_t>(data.size()));
        append(data);
        if (data.size() % 2 != 0) {
            u8(0);
        }
    }
    void list(const char* listType, const Body& children) {
        id("LIST");
        u32(static_cast<uint32_t>(children.size() + 4));
        id(listType);
        append(children);
    }
    size_t size() const { return bytes_.size(); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

// An INFO text: zero-terminated, even length, printable ASCII only.
Body InfoText(const std::string& text) {
    Body b;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        b.u8(u >= 0x20 && u < 0x7F ? u : '_');
    }
    b.u8(0);
    if (b.size() % 2 != 0) {
        b.u8(0);
    }
    return b;
}

// The constant (no source, no control) connections of a region, the region's own
// replacing the instrument's.
std::map<uint16_t, int32_t> ConstantConnections(const DlsInstrument& instrument,
                                                const DlsRegion& region) {
    std::map<uint16_t, int32_t> values;
    for (const auto* list : {&instrument.articulation, &region.articulation}) {
        for (const DlsConnection& c : *list) {
            if (c.source == dls::kSrcNone && c.control == dls::kSrcNone) {
                values[c.destination] = c.scale;
            }
        }
    }
    return values;
}

const DlsSampleInfo* SampleInfoOf(const DlsRegion& region, const DlsWave* wave) {
    if (region.sample) {
        return &*region.sample;
    }
    if (wave != nullptr && wave->sample) {
        return &*wave->sample;
    }
    return nullptr;
}

// The loop [start, end) of a region or wave, in frames of the wave, when it fits.
std::optional<std::pair<uint32_t, uint32_t>> LoopOf(const DlsSampleInfo* info,
                                                    const DlsWave& wave) {
    if (info == nullptr || info->loops.empty()) {
        return std::nullopt;
    }
    const DlsLoop& loop = info->loops.front();
    const uint64_t end = static_cast<uint64_t>(loop.start) + loop.length;
    if (loop.length == 0 || end > wave.pcm.size()) {
        return std::nullopt;
    }
    return std::pair<uint32_t, uint32_t>{loop.start, static_cast<uint32_t>(end)};
}

uint16_t Signed(int v) {
    return static_cast<uint16_t>(static_cast<int16_t>(v));
}

// An address offset as fine (gen) and coarse (units of 32768, coarseGen) generators.
void AddOffset(std::vector<Sf2Gen>& gens, uint16_t gen, uint16_t coarseGen, int64_t offset) {
    if (offset == 0) {
        return;
    }
    const int64_t coarse = offset / 32768;
    const int64_t fine = offset - coarse * 32768;
    if (coarse != 0) {
        gens.push_back({coarseGen, Signed(static_cast<int>(coarse))});
    }
    if (fine != 0) {
        gens.push_back({gen, Signed(static_cast<int>(fine))});
    }
}

struct PresetEntry {
    uint16_t bank = 0;
    uint16_t program = 0;
    size_t instrument = 0; // index into the instruments written
    std::string name;
};

} // namespace

int16_t Sf2AttenuationOf(double centibels) {
    const double value = std::clamp(centibels, 0.0, 1440.0 * kAttenuationFactor);
    return static_cast<int16_t>(std::lround(value / kAttenuationFactor));
}

int16_t Sf2SustainOf(double tenths) {
    return static_cast<int16_t>(std::lround(1000.0 - std::clamp(tenths, 0.0, 1000.0)));
}

int16_t Sf2TimeOf(int32_t dlsScale) {
    if (dlsScale == dls::kTimeZero) {
        return -12000;
    }
    return static_cast<int16_t>(std::clamp(std::lround(dlsScale / kUnit), -12000L, 8000L));
}

uint16_t Sf2BankOf(const DlsInstrument& instrument) {
    return instrument.IsDrumKit() ? kSf2PercussionBank : instrument.BankMsb();
}

std::vector<Sf2Gen> Sf2ZoneGenerators(const DlsCollection& collection,
                                      const DlsInstrument& instrument, const DlsRegion& region,
                                      uint16_t sampleIndex, uint32_t sampleLoopStart,
                                      uint32_t sampleLoopEnd) {
    const DlsWave* wave = collection.WaveOf(region);
    const DlsSampleInfo* info = SampleInfoOf(region, wave);
    const auto constants = ConstantConnections(instrument, region);
    auto constant = [&](uint16_t destination, int32_t fallback) {
        const auto it = constants.find(destination);
        return it == constants.end() ? fallback : it->second;
    };

    std::vector<Sf2Gen> gens;
    const int keyHigh = std::min<int>(region.keyHigh, 127);
    const int velocityHigh = std::min<int>(region.velocityHigh, 127);
    gens.push_back({sf2op::kKeyRange,
                    static_cast<uint16_t>(std::min<int>(region.keyLow, 127) | keyHigh << 8)});
    gens.push_back({sf2op::kVelRange, static_cast<uint16_t>(std::min<int>(region.velocityLow, 127) |
                                                            velocityHigh << 8)});

    // Level: the "wsmp" attenuation and constant gain, in cB below full level.
    double attenuation = info != nullptr ? -info->attenuation / kUnit : 0.0;
    attenuation -= constant(dls::kDstGain, 0) / kUnit;
    const int16_t att = Sf2AttenuationOf(attenuation);
    if (att != 0) {
        gens.push_back({sf2op::kInitialAttenuation, static_cast<uint16_t>(att)});
    }
    const int pan =
        static_cast<int>(std::clamp(std::lround(constant(dls::kDstPan, 0) / kUnit), -500L, 500L));
    if (pan != 0) {
        gens.push_back({sf2op::kPan, Signed(pan)});
    }

    // The volume envelope: DLS time cents are SoundFont time cents.
    gens.push_back(
        {sf2op::kVolEnvDelay, Signed(Sf2TimeOf(constant(dls::kDstEg1Delay, dls::kTimeZero)))});
    gens.push_back(
        {sf2op::kVolEnvAttack, Signed(Sf2TimeOf(constant(dls::kDstEg1Attack, dls::kTimeZero)))});
    gens.push_back(
        {sf2op::kVolEnvHold, Signed(Sf2TimeOf(constant(dls::kDstEg1Hold, dls::kTimeZero)))});
    gens.push_back(
        {sf2op::kVolEnvDecay, Signed(Sf2TimeOf(constant(dls::kDstEg1Decay, dls::kTimeZero)))});
    gens.push_back({sf2op::kVolEnvSustain,
                    Signed(Sf2SustainOf(constant(dls::kDstEg1Sustain, 1000 * 65536) / kUnit))});
    gens.push_back(
        {sf2op::kVolEnvRelease, Signed(Sf2TimeOf(constant(dls::kDstEg1Release, dls::kTimeZero)))});

    // Pitch: the unity note as root key, the fine tune (and constant pitch) in cents.
    const int unity = info != nullptr ? std::min<int>(info->unityNote, 127) : 60;
    const long cents =
        std::lround((info != nullptr ? info->fineTune : 0) + constant(dls::kDstPitch, 0) / kUnit);
    const long coarse = cents / 100;
    if (coarse != 0) {
        gens.push_back({sf2op::kCoarseTune, Signed(static_cast<int>(coarse))});
    }
    if (cents - coarse * 100 != 0) {
        gens.push_back({sf2op::kFineTune, Signed(static_cast<int>(cents - coarse * 100))});
    }
    if (region.keyGroup != 0) {
        gens.push_back({sf2op::kExclusiveClass, region.keyGroup});
    }
    gens.push_back({sf2op::kOverridingRootKey, static_cast<uint16_t>(unity)});

    // Loop: the region's own, as offsets from the sample header's loop.
    if (wave != nullptr) {
        if (const auto loop = LoopOf(info, *wave)) {
            const bool release = info->loops.front().type == dls::kLoopRelease;
            gens.push_back({sf2op::kSampleModes, static_cast<uint16_t>(release ? 3 : 1)});
            AddOffset(gens, sf2op::kStartLoopOffset, sf2op::kStartLoopCoarseOffset,
                      static_cast<int64_t>(loop->first) - sampleLoopStart);
            AddOffset(gens, sf2op::kEndLoopOffset, sf2op::kEndLoopCoarseOffset,
                      static_cast<int64_t>(loop->second) - sampleLoopEnd);
        }
    }
    gens.push_back({sf2op::kSampleId, sampleIndex});
    return gens;
}

bool WriteSf2(const DlsCollection& collection, const std::string& path, std::string& error) {
    // Samples: one per playable wave, each followed by the 46 zero samples.
    Body smpl;
    Body shdr;
    std::vector<int> sampleOfWave(collection.waves.size(), -1);
    std::vector<std::pair<uint32_t, uint32_t>> headerLoop(collection.waves.size());
    uint32_t frame = 0;
    int samples = 0;
    for (size_t w = 0; w < collection.waves.size(); ++w) {
        const DlsWave& wave = collection.waves[w];
        if (!wave.playable || wave.pcm.empty()) {
            continue;
        }
        const uint32_t frames = static_cast<uint32_t>(wave.pcm.size());
        // The wave's own loop, else the first region's that plays it, else the whole wave.
        std::optional<std::pair<uint32_t, uint32_t>> loop =
            LoopOf(wave.sample ? &*wave.sample : nullptr, wave);
        for (const DlsInstrument& ins : collection.instruments) {
            for (const DlsRegion& r : ins.regions) {
                if (!loop && collection.WaveOf(r) == &wave) {
                    loop = LoopOf(SampleInfoOf(r, &wave), wave);
                }
            }
        }
        headerLoop[w] = loop.value_or(std::pair<uint32_t, uint32_t>{0, frames});
        for (int16_t s : wave.pcm) {
            smpl.u16(static_cast<uint16_t>(s));
        }
        for (uint32_t i = 0; i < kSf2SampleGuard; ++i) {
            smpl.u16(0);
        }
        char name[40];
        std::snprintf(name, sizeof name, "wave %03zu", w);
        shdr.name(name, 20);
        shdr.u32(frame);
        shdr.u32(frame + frames);
        shdr.u32(frame + headerLoop[w].first);
        shdr.u32(frame + headerLoop[w].second);
        shdr.u32(wave.sampleRate);
        const int unity = wave.sample ? std::min<int>(wave.sample->unityNote, 127) : 60;
        shdr.u8(static_cast<uint8_t>(unity));
        shdr.u8(0);  // pitch correction: the zones carry the tuning
        shdr.u16(0); // sample link
        shdr.u16(1); // mono
        sampleOfWave[w] = samples++;
        frame += frames + kSf2SampleGuard;
    }
    shdr.name("EOS", 20);
    for (int i = 0; i < 5; ++i) {
        shdr.u32(0);
    }
    shdr.u8(0);
    shdr.u8(0);
    shdr.u16(0);
    shdr.u16(0);

    // Instruments: one zone per region with a playable wave. Every zone also turns off
    // the default velocity-to-filter modulator, which a DLS region does not have.
    Body inst;
    Body ibag;
    Body imod;
    Body igen;
    uint16_t zones = 0;
    uint16_t genCount = 0;
    uint16_t modCount = 0;
    std::vector<PresetEntry> presets;
    std::map<std::pair<uint16_t, uint16_t>, bool> taken;
    size_t written = 0;
    for (const DlsInstrument& ins : collection.instruments) {
        const uint16_t bank = Sf2BankOf(ins);
        const uint16_t program = ins.Program();
        if (taken.count({bank, program}) != 0) {
            continue; // the first instrument of a bank and program answers
        }
        taken[{bank, program}] = true;
        char name[40];
        std::snprintf(name, sizeof name, "program %03u", program);
        inst.name(name, 20);
        inst.u16(zones);
        for (const DlsRegion& region : ins.regions) {
            const DlsWave* wave = collection.WaveOf(region);
            if (wave == nullptr) {
                continue;
            }
            const size_t w = static_cast<size_t>(wave - collection.waves.data());
            if (sampleOfWave[w] < 0) {
                continue;
            }
            ibag.u16(genCount);
            ibag.u16(modCount);
            ++zones;
            // Velocity (linear, negative) to cutoff, switched by velocity, amount 0.
            imod.u16(0x0102);
            imod.u16(8);
            imod.u16(0);
            imod.u16(0x0C02);
            imod.u16(0);
            ++modCount;
            for (const Sf2Gen& g :
                 Sf2ZoneGenerators(collection, ins, region, static_cast<uint16_t>(sampleOfWave[w]),
                                   headerLoop[w].first, headerLoop[w].second)) {
                igen.u16(g.oper);
                igen.u16(g.amount);
                ++genCount;
            }
        }
        presets.push_back({bank, program, written, name});
        ++written;
    }
    inst.name("EOI", 20);
    inst.u16(zones);
    ibag.u16(genCount);
    ibag.u16(modCount);
    for (int i = 0; i < 5; ++i) {
        imod.u16(0);
    }
    igen.u32(0);

    // Presets: each instrument at its bank and program, and melodic ones once more in
    // the percussion bank, so that channel 10 finds them where players look by default.
    const size_t melodic = presets.size();
    for (size_t i = 0; i < melodic; ++i) {
        if (presets[i].bank != kSf2PercussionBank &&
            taken.count({kSf2PercussionBank, presets[i].program}) == 0) {
            taken[{kSf2PercussionBank, presets[i].program}] = true;
            PresetEntry p = presets[i];
            p.bank = kSf2PercussionBank;
            presets.push_back(p);
        }
    }
    std::stable_sort(presets.begin(), presets.end(),
                     [](const PresetEntry& a, const PresetEntry& b) {
                         return a.bank != b.bank ? a.bank < b.bank : a.program < b.program;
                     });
    Body phdr;
    Body pbag;
    Body pmod;
    Body pgen;
    uint16_t bagIndex = 0;
    // A preset header (library, genre and morphology 0) and its bag; "EOP" closes the list.
    const auto preset = [&](const std::string& name, uint16_t program, uint16_t bank) {
        phdr.name(name, 20);
        phdr.u16(program);
        phdr.u16(bank);
        phdr.u16(bagIndex);
        phdr.u32(0);
        phdr.u32(0);
        phdr.u32(0);
        pbag.u16(bagIndex);
        pbag.u16(0);
    };
    for (const PresetEntry& p : presets) {
        preset(p.name, p.program, p.bank);
        pgen.u16(sf2op::kInstrument);
        pgen.u16(static_cast<uint16_t>(p.instrument));
        ++bagIndex;
    }
    preset("EOP", 0, 0);
    for (int i = 0; i < 5; ++i) {
        pmod.u16(0);
    }
    pgen.u32(0);

    Body info;
    Body version;
    version.u16(2);
    version.u16(1);
    info.chunk("ifil", version);
    info.chunk("isng", InfoText("EMU8000"));
    info.chunk("INAM", InfoText(collection.name.empty() ? "Sonvex bank" : collection.name));
    info.chunk("ISFT", InfoText("Sonvex"));
    Body sdta;
    sdta.chunk("smpl", smpl);
    Body pdta;
    pdta.chunk("phdr", phdr);
    pdta.chunk("pbag", pbag);
    pdta.chunk("pmod", pmod);
    pdta.chunk("pgen", pgen);
    pdta.chunk("inst", inst);
    pdta.chunk("ibag", ibag);
    pdta.chunk("imod", imod);
    pdta.chunk("igen", igen);
    pdta.chunk("shdr", shdr);
    Body form;
    form.id("sfbk");
    form.list("INFO", info);
    form.list("sdta", sdta);
    form.list("pdta", pdta);
    Body file;
    file.id("RIFF");
    file.u32(static_cast<uint32_t>(form.size()));
    file.append(form);

    const std::string temporary = path + ".tmp";
    ChunkFile out;
    if (!out.Create(temporary)) {
        error = path + ": cannot be created";
        return false;
    }
    const auto& bytes = file.bytes();
    const bool wrote = out.Write(bytes.data(), static_cast<int64_t>(bytes.size())) ==
                           static_cast<int64_t>(bytes.size()) &&
                       !out.WriteFailed();
    const bool closed = out.Close();
    if (!wrote || !closed) {
        ChunkFile::Delete(temporary);
        error = path + ": a write failed";
        return false;
    }
    if (!ActiveFileSystem().Rename(temporary, path)) {
        ChunkFile::Delete(temporary);
        error = path + ": cannot be renamed into place";
        return false;
    }
    return true;
}

bool ConvertDlsToSf2(const std::string& dlsPath, const std::string& sf2Path, std::string& error) {
    const DlsReadOutcome read = ReadDlsFile(dlsPath);
    if (read.status != DlsReadStatus::Ok) {
        error = dlsPath + ": " + read.diagnostics.failure;
        return false;
    }
    return WriteSf2(read.collection, sf2Path, error);
}

} // namespace sonvex
