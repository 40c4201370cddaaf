// SPDX-License-Identifier: GPL-3.0-or-later
// DLS collection reader: walks the RIFF tree with bounds-checked cursors, keeps what a
// player needs, and names the chunk and offset of every problem it meets.
#include "formats/dls.h"

#include <algorithm>
#include <bit>
#include <map>

#include "formats/file_bytes.h"
#include "formats/riff.h"

namespace sonvex {

namespace {

constexpr uint32_t kDlsForm = FourCC("DLS ");

using Chunk = RiffChunk;

class Reader {
  public:
    explicit Reader(std::span<const uint8_t> bytes) : walker_(bytes, out_.diagnostics) {}

    DlsReadOutcome Run();

  private:
    bool Next(ByteCursor& parent, Chunk& chunk) { return walker_.Next(parent, chunk); }
    bool Fail(int64_t offset, const std::string& structure, const std::string& what) {
        out_.diagnostics.Fail(offset, structure, what);
        return false;
    }
    void Note(int64_t offset, const std::string& structure, const std::string& what) {
        out_.diagnostics.Note(offset, structure, what);
    }
    bool failed() const { return out_.diagnostics.failed(); }

    // Reads every LIST of type `a` or `b` in `data`, in order, into `out`; false on the
    // first that cannot be read.
    template <typename T, typename Read>
    bool ReadLists(ByteCursor data, uint32_t a, uint32_t b, std::vector<T>& out, Read read) {
        Chunk chunk;
        while (Next(data, chunk)) {
            if (chunk.IsList(a) || chunk.IsList(b)) {
                T item;
                item.offset = chunk.offset;
                if (!(this->*read)(chunk, item)) {
                    return false;
                }
                out.push_back(std::move(item));
            }
        }
        return !failed();
    }
    bool ReadInstrument(const Chunk& list, DlsInstrument& instrument);
    bool ReadRegion(const Chunk& list, DlsRegion& region);
    bool ReadArticulationList(const Chunk& list, std::vector<DlsConnection>& out);
    bool ReadConnections(const Chunk& chunk, bool level2, std::vector<DlsConnection>& out);
    bool ReadSampleInfo(const Chunk& chunk, DlsSampleInfo& info);
    bool ReadPoolTable(const Chunk& chunk);
    bool ReadWave(const Chunk& list, DlsWave& wave);
    void DecodePcm(ByteCursor data, DlsWave& wave, int64_t offset);
    std::string ReadName(ByteCursor info);
    void LinkPoolTable(const std::map<int64_t, int>& waveAt, bool sawPoolTable);

    DlsReadOutcome out_;
    RiffWalker walker_;
};

DlsReadOutcome Reader::Run() {
    ByteCursor file = walker_.File();
    if (file.remaining() < 12) {
        out_.status = DlsReadStatus::NotDls;
        Fail(0, "file", std::to_string(file.remaining()) + " bytes, too short for a RIFF form");
        return std::move(out_);
    }
    const uint32_t id = file.u32le();
    uint32_t size = file.u32le();
    const uint32_t form = file.u32le();
    if (id != kRiffId || form != kDlsForm) {
        out_.status = DlsReadStatus::NotDls;
        Fail(0, "file", "not a RIFF form \"DLS \"");
        return std::move(out_);
    }
    if (size < 4 || size - 4 > file.remaining()) {
        Note(0, "RIFF form",
             "size " + std::to_string(size) + " does not match the file; read to its end");
        size = static_cast<uint32_t>(file.remaining() + 4);
    }
    ByteCursor body = file.sub(size - 4);

    DlsCollection& col = out_.collection;
    bool sawHeader = false;
    bool sawPoolTable = false;
    Chunk chunk;
    std::map<int64_t, int> waveAt; // wave LIST offset relative to the "wvpl" data -> wave index
    while (Next(body, chunk)) {
        if (chunk.id == FourCC("colh")) {
            if (chunk.data.remaining() < 4) {
                Fail(chunk.offset, "\"colh\"", "shorter than 4 bytes");
                return std::move(out_);
            }
            col.declaredInstruments = chunk.data.u32le();
            sawHeader = true;
        } else if (chunk.id == FourCC("vers")) {
            if (chunk.data.remaining() >= 8) {
                col.versionMs = chunk.data.u32le();
                col.versionLs = chunk.data.u32le();
                col.hasVersion = true;
            }
        } else if (chunk.IsList(FourCC("lins"))) {
            ReadLists(chunk.data, FourCC("ins "), FourCC("ins "), col.instruments,
                      &Reader::ReadInstrument);
        } else if (chunk.id == FourCC("ptbl")) {
            ReadPoolTable(chunk);
            sawPoolTable = true;
        } else if (chunk.IsList(FourCC("wvpl"))) {
            const size_t first = col.waves.size();
            ReadLists(chunk.data, FourCC("wave"), FourCC("wav "), col.waves, &Reader::ReadWave);
            for (size_t i = first; i < col.waves.size(); ++i) {
                waveAt[col.waves[i].offset - walker_.OffsetOf(chunk.data)] = static_cast<int>(i);
            }
        } else if (chunk.id == kListId && chunk.listType == FourCC("INFO")) {
            col.name = ReadName(chunk.data);
        }
    }
    if (failed()) {
        return std::move(out_);
    }
    if (!sawHeader) {
        Note(12, "collection", "no \"colh\" chunk");
    } else if (col.declaredInstruments != col.instruments.size()) {
        Note(12, "\"colh\"",
             "declares " + std::to_string(col.declaredInstruments) +
                 " instrument(s), the file holds " + std::to_string(col.instruments.size()));
    }
    LinkPoolTable(waveAt, sawPoolTable);
    return std::move(out_);
}

bool Reader::ReadInstrument(const Chunk& list, DlsInstrument& instrument) {
    const std::string where = "instrument " + std::to_string(out_.collection.instruments.size());
    ByteCursor data = list.data;
    Chunk chunk;
    bool sawHeader = false;
    while (Next(data, chunk)) {
        if (chunk.id == FourCC("insh")) {
            if (chunk.data.remaining() < 12) {
                return Fail(chunk.offset, where + " \"insh\"", "shorter than 12 bytes");
            }
            instrument.declaredRegions = chunk.data.u32le();
            instrument.bank = chunk.data.u32le();
            instrument.program = chunk.data.u32le();
            sawHeader = true;
        } else if (chunk.IsList(FourCC("lrgn"))) {
            if (!ReadLists(chunk.data, FourCC("rgn "), FourCC("rgn2"), instrument.regions,
                           &Reader::ReadRegion)) {
                return false;
            }
        } else if (chunk.id == kListId &&
                   (chunk.listType == FourCC("lart") || chunk.listType == FourCC("lar2"))) {
            if (!ReadArticulationList(chunk, instrument.articulation)) {
                return false;
            }
        } else if (chunk.id == kListId && chunk.listType == FourCC("INFO")) {
            instrument.name = ReadName(chunk.data);
        }
    }
    if (failed()) {
        return false;
    }
    if (!sawHeader) {
        return Fail(list.offset, where, "no \"insh\" chunk");
    }
    if (instrument.declaredRegions != instrument.regions.size()) {
        Note(list.offset, where,
             "\"insh\" declares " + std::to_string(instrument.declaredRegions) +
                 " region(s), the list holds " + std::to_string(instrument.regions.size()));
    }
    return true;
}

bool Reader::ReadRegion(const Chunk& list, DlsRegion& region) {
    ByteCursor data = list.data;
    Chunk chunk;
    bool sawHeader = false;
    while (Next(data, chunk)) {
        if (chunk.id == FourCC("rgnh")) {
            if (chunk.data.remaining() < 12) {
                return Fail(chunk.offset, "region \"rgnh\"", "shorter than 12 bytes");
            }
            region.keyLow = chunk.data.u16le();
            region.keyHigh = chunk.data.u16le();
            region.velocityLow = chunk.data.u16le();
            region.velocityHigh = chunk.data.u16le();
            region.options = chunk.data.u16le();
            region.keyGroup = chunk.data.u16le();
            if (chunk.data.remaining() >= 2) {
                region.layer = chunk.data.u16le();
            }
            // Level 1 players ignored the velocity range and some writers left it 0..0,
            // which no note-on could reach: such a region answers every velocity.
            if (region.velocityLow == 0 && region.velocityHigh == 0) {
                region.velocityHigh = 127;
            }
            sawHeader = true;
        } else if (chunk.id == FourCC("wsmp")) {
            DlsSampleInfo info;
            if (!ReadSampleInfo(chunk, info)) {
                return false;
            }
            region.sample = std::move(info);
        } else if (chunk.id == FourCC("wlnk")) {
            if (chunk.data.remaining() < 12) {
                return Fail(chunk.offset, "region \"wlnk\"", "shorter than 12 bytes");
            }
            region.linkOptions = chunk.data.u16le();
            region.phaseGroup = chunk.data.u16le();
            region.channel = chunk.data.u32le();
            region.tableIndex = chunk.data.u32le();
            region.hasLink = true;
        } else if (chunk.id == kListId &&
                   (chunk.listType == FourCC("lart") || chunk.listType == FourCC("lar2"))) {
            if (!ReadArticulationList(chunk, region.articulation)) {
                return false;
            }
        }
    }
    if (failed()) {
        return false;
    }
    if (!sawHeader) {
        return Fail(list.offset, "region", "no \"rgnh\" chunk");
    }
    if (!region.hasLink) {
        Note(list.offset, "region", "no \"wlnk\" chunk; the region stays silent");
    }
    return true;
}

bool Reader::ReadArticulationList(const Chunk& list, std::vector<DlsConnection>& out) {
    ByteCursor data = list.data;
    Chunk chunk;
    while (Next(data, chunk)) {
        if (chunk.id == FourCC("art1") || chunk.id == FourCC("art2")) {
            if (!ReadConnections(chunk, chunk.id == FourCC("art2"), out)) {
                return false;
            }
        }
    }
    return !failed();
}

bool Reader::ReadConnections(const Chunk& chunk, bool level2, std::vector<DlsConnection>& out) {
    ByteCursor c = chunk.data;
    const std::string where = std::string("\"") + (level2 ? "art2" : "art1") + "\"";
    if (c.remaining() < 8) {
        return Fail(chunk.offset, where, "shorter than its 8-byte header");
    }
    const uint32_t headerSize = c.u32le();
    uint32_t count = c.u32le();
    if (headerSize < 8 || headerSize > c.size()) {
        return Fail(chunk.offset, where, "header size " + std::to_string(headerSize));
    }
    c.seek(headerSize);
    // Bytes may follow the blocks (our own files carry a 5-byte trailer there).
    const size_t room = c.remaining() / 12;
    if (count > room) {
        Note(chunk.offset, where,
             std::to_string(count) + " blocks declared, room for " + std::to_string(room));
        count = static_cast<uint32_t>(room);
    }
    for (uint32_t i = 0; i < count; ++i) {
        DlsConnection block;
        block.source = c.u16le();
        block.control = c.u16le();
        block.destination = c.u16le();
        block.transform = c.u16le();
        block.scale = c.s32le();
        block.level2 = level2;
        out.push_back(block);
    }
    return true;
}

bool Reader::ReadSampleInfo(const Chunk& chunk, DlsSampleInfo& info) {
    ByteCursor c = chunk.data;
    if (c.remaining() < 20) {
        return Fail(chunk.offset, "\"wsmp\"", "shorter than 20 bytes");
    }
    const uint32_t headerSize = c.u32le();
    info.unityNote = c.u16le();
    info.fineTune = c.s16le();
    info.attenuation = c.s32le();
    info.options = c.u32le();
    uint32_t loopCount = c.u32le();
    if (headerSize < 20 || headerSize > c.size()) {
        return Fail(chunk.offset, "\"wsmp\"", "header size " + std::to_string(headerSize));
    }
    c.seek(headerSize);
    for (uint32_t i = 0; i < loopCount; ++i) {
        if (c.remaining() < 16) {
            Note(chunk.offset, "\"wsmp\"",
                 std::to_string(loopCount) + " loop(s) declared, " + std::to_string(i) +
                     " present");
            break;
        }
        const size_t recordStart = c.position();
        const uint32_t recordSize = c.u32le();
        DlsLoop loop;
        loop.type = c.u32le();
        loop.start = c.u32le();
        loop.length = c.u32le();
        info.loops.push_back(loop);
        if (recordSize > 16) {
            if (!c.seek(recordStart + recordSize)) {
                break;
            }
        }
    }
    return true;
}

bool Reader::ReadPoolTable(const Chunk& chunk) {
    ByteCursor c = chunk.data;
    if (c.remaining() < 8) {
        return Fail(chunk.offset, "\"ptbl\"", "shorter than 8 bytes");
    }
    const uint32_t headerSize = c.u32le();
    uint32_t count = c.u32le();
    if (headerSize < 8 || headerSize > c.size()) {
        return Fail(chunk.offset, "\"ptbl\"", "header size " + std::to_string(headerSize));
    }
    c.seek(headerSize);
    const size_t room = c.remaining() / 4;
    if (count > room) {
        Note(chunk.offset, "\"ptbl\"",
             std::to_string(count) + " cues declared, room for " + std::to_string(room));
        count = static_cast<uint32_t>(room);
    }
    out_.collection.poolTable.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        out_.collection.poolTable[i] = c.u32le();
    }
    return true;
}

bool Reader::ReadWave(const Chunk& list, DlsWave& wave) {
    const std::string where = "wave " + std::to_string(out_.collection.waves.size());
    ByteCursor data = list.data;
    Chunk chunk;
    bool sawFormat = false;
    std::optional<Chunk> pcm;
    while (Next(data, chunk)) {
        if (chunk.id == FourCC("fmt ")) {
            if (chunk.data.remaining() < 16) {
                return Fail(chunk.offset, where + " \"fmt \"", "shorter than 16 bytes");
            }
            wave.formatTag = chunk.data.u16le();
            wave.channels = chunk.data.u16le();
            wave.sampleRate = chunk.data.u32le();
            chunk.data.u32le(); // bytes per second: follows from the others
            wave.blockAlign = chunk.data.u16le();
            wave.bitsPerSample = chunk.data.u16le();
            sawFormat = true;
        } else if (chunk.id == FourCC("wsmp")) {
            DlsSampleInfo info;
            if (!ReadSampleInfo(chunk, info)) {
                return false;
            }
            wave.sample = std::move(info);
        } else if (chunk.id == FourCC("data")) {
            pcm = chunk;
        } else if (chunk.id == kListId && chunk.listType == FourCC("INFO")) {
            wave.name = ReadName(chunk.data);
        }
    }
    if (failed()) {
        return false;
    }
    if (!sawFormat) {
        Note(list.offset, where, "no \"fmt \" chunk; the wave stays silent");
    } else if (!pcm) {
        Note(list.offset, where, "no \"data\" chunk; the wave stays silent");
    } else {
        DecodePcm(pcm->data, wave, pcm->offset);
    }
    return true;
}

void Reader::DecodePcm(ByteCursor data, DlsWave& wave, int64_t offset) {
    const std::string where = "wave " + std::to_string(out_.collection.waves.size()) + " \"data\"";
    const bool integer = wave.formatTag == 1;
    const bool floating = wave.formatTag == 3 && wave.bitsPerSample == 32;
    const uint16_t bits = wave.bitsPerSample;
    const bool knownWidth = bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (!(integer && knownWidth) && !floating) {
        Note(offset, where,
             "format " + std::to_string(wave.formatTag) + " with " + std::to_string(bits) +
                 " bits is not played");
        return;
    }
    if (wave.channels == 0 || wave.sampleRate == 0) {
        Note(offset, where, "no channels or no sample rate; the wave stays silent");
        return;
    }
    const size_t bytesPerSample = bits / 8;
    const size_t frameBytes = bytesPerSample * wave.channels;
    if (wave.blockAlign != frameBytes) {
        Note(offset, where,
             "block align " + std::to_string(wave.blockAlign) + " taken as " +
                 std::to_string(frameBytes));
    }
    const size_t frames = data.remaining() / frameBytes;
    wave.pcm.resize(frames);
    for (size_t f = 0; f < frames; ++f) {
        int64_t sum = 0;
        for (uint16_t ch = 0; ch < wave.channels; ++ch) {
            int32_t v = 0;
            if (floating) {
                float x = std::bit_cast<float>(data.u32le());
                if (!(x == x)) {
                    x = 0.0f; // NaN
                }
                x = x > 1.0f ? 1.0f : (x < -1.0f ? -1.0f : x);
                v = static_cast<int32_t>(x * 32767.0f);
            } else if (bits == 8) {
                v = (static_cast<int32_t>(data.u8()) - 128) * 256;
            } else if (bits == 16) {
                v = data.s16le();
            } else if (bits == 24) {
                data.skip(1); // the lowest of the 24 bits
                v = data.s16le();
            } else {
                v = static_cast<int16_t>(static_cast<uint16_t>(data.u32le() >> 16));
            }
            sum += v;
        }
        wave.pcm[f] = static_cast<int16_t>(sum / wave.channels);
    }
    wave.playable = frames > 0;
    if (frames == 0) {
        Note(offset, where, "no whole frame; the wave stays silent");
    }
}

std::string Reader::ReadName(ByteCursor info) {
    Chunk chunk;
    std::string name;
    while (Next(info, chunk)) {
        if (chunk.id == FourCC("INAM")) {
            const uint8_t* text = chunk.data.data();
            name.append(text, std::find(text, text + chunk.data.size(), 0));
        }
    }
    return name;
}

void Reader::LinkPoolTable(const std::map<int64_t, int>& waveAt, bool sawPoolTable) {
    DlsCollection& col = out_.collection;
    if (!sawPoolTable) {
        // Without a pool table the cues are taken to be the waves in pool order.
        Note(12, "collection", "no \"ptbl\" chunk; cue i plays wave i");
        col.cueToWave.resize(col.waves.size());
        for (size_t i = 0; i < col.waves.size(); ++i) {
            col.cueToWave[i] = static_cast<int>(i);
        }
        return;
    }
    col.cueToWave.assign(col.poolTable.size(), -1);
    for (size_t i = 0; i < col.poolTable.size(); ++i) {
        const auto found = waveAt.find(col.poolTable[i]);
        if (found != waveAt.end()) {
            col.cueToWave[i] = found->second;
        }
    }
}

} // namespace

const DlsWave* DlsCollection::WaveOf(const DlsRegion& region) const {
    if (!region.hasLink || region.tableIndex >= cueToWave.size()) {
        return nullptr;
    }
    const int index = cueToWave[region.tableIndex];
    if (index < 0 || static_cast<size_t>(index) >= waves.size() || !waves[index].playable) {
        return nullptr;
    }
    return &waves[index];
}

DlsReadOutcome ReadDls(std::span<const uint8_t> bytes) {
    Reader reader(bytes);
    DlsReadOutcome out = reader.Run();
    if (out.status == DlsReadStatus::Ok && out.diagnostics.failed()) {
        out.status = DlsReadStatus::Malformed;
    }
    return out;
}

DlsReadOutcome ReadDlsFile(const std::string& path) {
    return ParseWholeFile<DlsReadOutcome>(
        path, DlsReadStatus::OpenFailed,
        [](std::span<const uint8_t> bytes) { return ReadDls(bytes); });
}

} // namespace sonvex
