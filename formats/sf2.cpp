// SPDX-License-Identifier: GPL-3.0-or-later
// SoundFont 2 reader: the RIFF walk, the nine fixed-size tables of "pdta" with their
// terminal records, and the zones put together from the bag indexes, each index checked
// against the table it points into.
#include "formats/sf2.h"

#include <algorithm>

#include "formats/file_bytes.h"
#include "formats/riff.h"

namespace sonvex {

namespace {

constexpr uint32_t kSfbk = FourCC("sfbk");

// Record sizes of the "pdta" tables.
constexpr size_t kPresetHeader = 38;
constexpr size_t kBag = 4;
constexpr size_t kModulator = 10;
constexpr size_t kGenerator = 4;
constexpr size_t kInstrumentHeader = 22;
constexpr size_t kSampleHeader = 46;

std::string Name(ByteCursor& c, size_t width) {
    std::string text;
    bool ended = false;
    for (size_t i = 0; i < width; ++i) {
        const char ch = static_cast<char>(c.u8());
        if (ch == '\0') {
            ended = true;
        } else if (!ended) {
            text.push_back(ch);
        }
    }
    return text;
}

struct Table {
    ByteCursor data;
    int64_t offset = -1; // of the chunk header; -1 while missing
    size_t records = 0;
};

class Reader {
  public:
    explicit Reader(std::span<const uint8_t> bytes) : walker_(bytes, out_.diagnostics) {}
    Sf2ReadOutcome Run();

  private:
    bool Fail(int64_t offset, const std::string& structure, const std::string& what) {
        out_.diagnostics.Fail(offset, structure, what);
        return false;
    }
    bool ReadInfo(ByteCursor data);
    bool ReadTables(ByteCursor data, int64_t offset);
    // The zones of bags [first, end) of a bag table, with their generators and modulators.
    bool ReadZones(const char* kind, size_t item, uint16_t first, uint16_t end, Table& bags,
                   Table& gens, Table& mods, std::vector<Sf2Zone>& zones);
    bool CheckReferences();

    Sf2ReadOutcome out_;
    RiffWalker walker_;
    Table tables_[9];
};

constexpr const char* kTableIds[9] = {"phdr", "pbag", "pmod", "pgen", "inst",
                                      "ibag", "imod", "igen", "shdr"};
constexpr uint32_t kTableFourCC[9] = {FourCC("phdr"), FourCC("pbag"), FourCC("pmod"),
                                      FourCC("pgen"), FourCC("inst"), FourCC("ibag"),
                                      FourCC("imod"), FourCC("igen"), FourCC("shdr")};
constexpr size_t kTableRecords[9] = {kPresetHeader,     kBag, kModulator, kGenerator,
                                     kInstrumentHeader, kBag, kModulator, kGenerator,
                                     kSampleHeader};
enum TableIndex { kPhdr, kPbag, kPmod, kPgen, kInst, kIbag, kImod, kIgen, kShdr };

Sf2ReadOutcome Reader::Run() {
    ByteCursor file = walker_.File();
    if (file.remaining() < 12) {
        out_.status = Sf2ReadStatus::NotSf2;
        Fail(0, "file", std::to_string(file.remaining()) + " bytes, too short for a RIFF form");
        return std::move(out_);
    }
    ByteCursor head = file;
    const uint32_t riff = head.u32le();
    head.skip(4);
    if (riff != kRiffId || head.u32le() != kSfbk) {
        out_.status = Sf2ReadStatus::NotSf2;
        Fail(0, "file", "not a RIFF form \"sfbk\"");
        return std::move(out_);
    }
    RiffChunk form;
    if (!walker_.Next(file, form)) {
        out_.status = Sf2ReadStatus::Malformed;
        return std::move(out_);
    }
    bool sawInfo = false;
    bool sawSamples = false;
    bool sawTables = false;
    RiffChunk chunk;
    while (walker_.Next(form.data, chunk)) {
        if (chunk.IsList(FourCC("INFO"))) {
            sawInfo = ReadInfo(chunk.data);
        } else if (chunk.IsList(FourCC("sdta"))) {
            RiffChunk s;
            while (walker_.Next(chunk.data, s)) {
                if (s.id == FourCC("smpl")) {
                    while (s.data.canRead(2)) {
                        out_.bank.samplePoints.push_back(s.data.s16le());
                    }
                    sawSamples = true;
                }
            }
        } else if (chunk.IsList(FourCC("pdta"))) {
            sawTables = ReadTables(chunk.data, chunk.offset);
        }
        if (out_.diagnostics.failed()) {
            break;
        }
    }
    if (!out_.diagnostics.failed()) {
        if (!sawInfo) {
            Fail(form.offset, "RIFF form", "no \"INFO\" list with \"ifil\"");
        } else if (!sawSamples) {
            Fail(form.offset, "RIFF form", "no \"sdta\" list with \"smpl\"");
        } else if (!sawTables) {
            Fail(form.offset, "RIFF form", "no \"pdta\" list");
        } else {
            CheckReferences();
        }
    }
    if (out_.diagnostics.failed()) {
        out_.status = Sf2ReadStatus::Malformed;
    }
    return std::move(out_);
}

bool Reader::ReadInfo(ByteCursor data) {
    bool version = false;
    RiffChunk c;
    while (walker_.Next(data, c)) {
        if (c.id == FourCC("ifil")) {
            if (c.data.remaining() < 4) {
                return Fail(c.offset, "\"ifil\"", "shorter than 4 bytes");
            }
            out_.bank.versionMajor = c.data.u16le();
            out_.bank.versionMinor = c.data.u16le();
            version = true;
        } else if (c.id == FourCC("INAM")) {
            out_.bank.name = Name(c.data, c.data.remaining());
        } else if (c.id == FourCC("isng")) {
            out_.bank.engine = Name(c.data, c.data.remaining());
        }
    }
    return version && !out_.diagnostics.failed();
}

bool Reader::ReadTables(ByteCursor data, int64_t offset) {
    RiffChunk c;
    while (walker_.Next(data, c)) {
        for (size_t t = 0; t < 9; ++t) {
            if (c.id == kTableFourCC[t]) {
                tables_[t].data = c.data;
                tables_[t].offset = c.offset;
                tables_[t].records = c.data.remaining() / kTableRecords[t];
                if (c.data.remaining() % kTableRecords[t] != 0 || tables_[t].records == 0) {
                    return Fail(c.offset, std::string("\"") + kTableIds[t] + "\"",
                                "size " + std::to_string(c.data.remaining()) +
                                    " is not a whole number of " +
                                    std::to_string(kTableRecords[t]) + "-byte records");
                }
            }
        }
    }
    if (out_.diagnostics.failed()) {
        return false;
    }
    for (size_t t = 0; t < 9; ++t) {
        if (tables_[t].offset < 0) {
            return Fail(offset, "\"pdta\" list", std::string("no \"") + kTableIds[t] + "\"");
        }
    }

    // Sample headers (the last is the terminal record).
    Table& shdr = tables_[kShdr];
    for (size_t i = 0; i + 1 < shdr.records; ++i) {
        ByteCursor r = shdr.data.sub(kSampleHeader);
        Sf2Sample s;
        s.name = Name(r, 20);
        s.start = r.u32le();
        s.end = r.u32le();
        s.loopStart = r.u32le();
        s.loopEnd = r.u32le();
        s.sampleRate = r.u32le();
        s.originalPitch = r.u8();
        s.pitchCorrection = r.s8();
        s.link = r.u16le();
        s.type = r.u16le();
        const int64_t at = shdr.offset + 8 + static_cast<int64_t>(i * kSampleHeader);
        if (s.start > s.end || s.end > out_.bank.samplePoints.size()) {
            return Fail(at, "sample header " + std::to_string(i),
                        "points " + std::to_string(s.start) + ".." + std::to_string(s.end) +
                            " outside the " + std::to_string(out_.bank.samplePoints.size()) +
                            " sample points");
        }
        out_.bank.samples.push_back(std::move(s));
    }

    // Instruments, then presets: each header's bags run to the next header's first bag.
    auto headers = [&](TableIndex index, size_t recordSize, size_t nameWidth,
                       std::vector<std::pair<std::string, std::vector<uint16_t>>>& out) {
        Table& t = tables_[index];
        for (size_t i = 0; i < t.records; ++i) {
            ByteCursor r = t.data.sub(recordSize);
            std::string name = Name(r, nameWidth);
            std::vector<uint16_t> fields;
            while (r.canRead(2) && fields.size() < 3) {
                fields.push_back(r.u16le());
            }
            out.emplace_back(std::move(name), std::move(fields));
        }
    };
    std::vector<std::pair<std::string, std::vector<uint16_t>>> inst;
    headers(kInst, kInstrumentHeader, 20, inst);
    for (size_t i = 0; i + 1 < inst.size(); ++i) {
        Sf2Instrument instrument;
        instrument.name = inst[i].first;
        if (!ReadZones("instrument", i, inst[i].second[0], inst[i + 1].second[0], tables_[kIbag],
                       tables_[kIgen], tables_[kImod], instrument.zones)) {
            return false;
        }
        out_.bank.instruments.push_back(std::move(instrument));
    }
    std::vector<std::pair<std::string, std::vector<uint16_t>>> phdr;
    headers(kPhdr, kPresetHeader, 20, phdr);
    for (size_t i = 0; i + 1 < phdr.size(); ++i) {
        Sf2Preset preset;
        preset.name = phdr[i].first;
        preset.preset = phdr[i].second[0];
        preset.bank = phdr[i].second[1];
        if (!ReadZones("preset", i, phdr[i].second[2], phdr[i + 1].second[2], tables_[kPbag],
                       tables_[kPgen], tables_[kPmod], preset.zones)) {
            return false;
        }
        out_.bank.presets.push_back(std::move(preset));
    }
    return true;
}

bool Reader::ReadZones(const char* kind, size_t item, uint16_t first, uint16_t end, Table& bags,
                       Table& gens, Table& mods, std::vector<Sf2Zone>& zones) {
    const std::string structure = std::string(kind) + " " + std::to_string(item);
    if (first > end || end + 1u > bags.records) {
        return Fail(bags.offset, structure,
                    "bags " + std::to_string(first) + ".." + std::to_string(end) + " beyond the " +
                        std::to_string(bags.records) + " bag records");
    }
    auto bag = [&](size_t i, uint16_t& gen, uint16_t& mod) {
        ByteCursor r = bags.data;
        r.seek(i * kBag);
        gen = r.u16le();
        mod = r.u16le();
    };
    for (size_t b = first; b < end; ++b) {
        uint16_t gen0 = 0;
        uint16_t mod0 = 0;
        uint16_t gen1 = 0;
        uint16_t mod1 = 0;
        bag(b, gen0, mod0);
        bag(b + 1, gen1, mod1);
        if (gen0 > gen1 || gen1 > gens.records || mod0 > mod1 || mod1 > mods.records) {
            return Fail(bags.offset + 8 + static_cast<int64_t>(b * kBag), structure,
                        "bag " + std::to_string(b) + " indexes out of order or beyond its tables");
        }
        Sf2Zone zone;
        for (size_t g = gen0; g < gen1; ++g) {
            ByteCursor r = gens.data;
            r.seek(g * kGenerator);
            Sf2Generator gen;
            gen.oper = r.u16le();
            gen.amount = r.u16le();
            zone.generators.push_back(gen);
        }
        for (size_t m = mod0; m < mod1; ++m) {
            ByteCursor r = mods.data;
            r.seek(m * kModulator);
            Sf2Modulator mod;
            mod.source = r.u16le();
            mod.destination = r.u16le();
            mod.amount = r.s16le();
            mod.amountSource = r.u16le();
            mod.transform = r.u16le();
            zone.modulators.push_back(mod);
        }
        zones.push_back(std::move(zone));
    }
    return true;
}

bool Reader::CheckReferences() {
    const Sf2Bank& bank = out_.bank;
    for (size_t p = 0; p < bank.presets.size(); ++p) {
        for (const Sf2Zone& z : bank.presets[p].zones) {
            const auto g = z.Find(sf2op::kInstrument);
            if (g && g->amount >= bank.instruments.size()) {
                return Fail(tables_[kPgen].offset, "preset " + std::to_string(p),
                            "instrument " + std::to_string(g->amount) + " beyond the " +
                                std::to_string(bank.instruments.size()) + " instruments");
            }
        }
    }
    for (size_t i = 0; i < bank.instruments.size(); ++i) {
        for (const Sf2Zone& z : bank.instruments[i].zones) {
            const auto g = z.Find(sf2op::kSampleId);
            if (g && g->amount >= bank.samples.size()) {
                return Fail(tables_[kIgen].offset, "instrument " + std::to_string(i),
                            "sample " + std::to_string(g->amount) + " beyond the " +
                                std::to_string(bank.samples.size()) + " samples");
            }
        }
    }
    return true;
}

} // namespace

std::optional<Sf2Generator> Sf2Zone::Find(uint16_t oper) const {
    for (const Sf2Generator& g : generators) {
        if (g.oper == oper) {
            return g;
        }
    }
    return std::nullopt;
}

const Sf2Zone* Sf2GlobalZone(const std::vector<Sf2Zone>& zones, uint16_t terminal) {
    if (zones.empty()) {
        return nullptr;
    }
    const std::vector<Sf2Generator>& g = zones.front().generators;
    return g.empty() || g.back().oper != terminal ? &zones.front() : nullptr;
}

std::optional<Sf2Generator> Sf2Find(const Sf2Zone& zone, const Sf2Zone* global, uint16_t oper) {
    std::optional<Sf2Generator> g = zone.Find(oper);
    if (!g && global != nullptr) {
        g = global->Find(oper);
    }
    return g;
}

std::vector<Sf2Region> Sf2PresetRegions(const Sf2Bank& bank, const Sf2Preset& preset) {
    std::vector<Sf2Region> regions;
    // A range generator's low and high bytes narrowed into [low, high].
    const auto narrow = [](const std::optional<Sf2Generator>& g, uint8_t& low, uint8_t& high) {
        if (g) {
            low = std::max(low, g->Low());
            high = std::min(high, g->High());
        }
    };
    const Sf2Zone* presetGlobal = Sf2GlobalZone(preset.zones, sf2op::kInstrument);
    for (const Sf2Zone& pz : preset.zones) {
        const auto instrument = pz.Find(sf2op::kInstrument);
        if (&pz == presetGlobal || !instrument || instrument->amount >= bank.instruments.size()) {
            continue;
        }
        const Sf2Instrument& in = bank.instruments[instrument->amount];
        const Sf2Zone* global = Sf2GlobalZone(in.zones, sf2op::kSampleId);
        for (const Sf2Zone& iz : in.zones) {
            const auto sample = iz.Find(sf2op::kSampleId);
            if (&iz == global || !sample || sample->amount >= bank.samples.size()) {
                continue;
            }
            Sf2Region r;
            r.instrument = instrument->amount;
            r.sample = sample->amount;
            narrow(Sf2Find(pz, presetGlobal, sf2op::kKeyRange), r.keyLow, r.keyHigh);
            narrow(Sf2Find(pz, presetGlobal, sf2op::kVelRange), r.velocityLow, r.velocityHigh);
            narrow(Sf2Find(iz, global, sf2op::kKeyRange), r.keyLow, r.keyHigh);
            narrow(Sf2Find(iz, global, sf2op::kVelRange), r.velocityLow, r.velocityHigh);
            if (r.keyLow <= r.keyHigh && r.velocityLow <= r.velocityHigh) {
                regions.push_back(r);
            }
        }
    }
    return regions;
}

Sf2ReadOutcome ReadSf2(std::span<const uint8_t> bytes) {
    Reader reader(bytes);
    return reader.Run();
}

Sf2ReadOutcome ReadSf2File(const std::string& path) {
    return ParseWholeFile<Sf2ReadOutcome>(
        path, Sf2ReadStatus::OpenFailed,
        [](std::span<const uint8_t> bytes) { return ReadSf2(bytes); });
}

} // namespace sonvex
