// SPDX-License-Identifier: GPL-3.0-or-later
// DLS collection bytes from their field-by-field descriptions.
#include "tests/support/dls_description.h"

#include <cmath>
#include <stdexcept>

#include "testkit/dls_builder.h"

namespace sonvex::playtest {

using testkit::ByteBuilder;
using testkit::RiffNode;

namespace {

Bytes SampleInfoBytes(const TestSampleInfo& info) {
    ByteBuilder b;
    const bool record = info.loop.has_value() || info.recordWithoutLoop;
    b.u32le(20).u16le(info.unityNote).u16le(static_cast<uint16_t>(info.fineTune));
    b.u32le(static_cast<uint32_t>(info.attenuation)).u32le(3).u32le(info.loop ? 1 : 0);
    if (record) {
        const TestLoop loop = info.loop.value_or(TestLoop{});
        b.u32le(16).u32le(loop.type).u32le(loop.start).u32le(loop.length);
    }
    return b.take();
}

Bytes Connections(const std::vector<TestConnection>& blocks, bool trailer) {
    ByteBuilder b;
    b.u32le(8).u32le(static_cast<uint32_t>(blocks.size()));
    for (const TestConnection& c : blocks) {
        b.u16le(c.source)
            .u16le(c.control)
            .u16le(c.destination)
            .u16le(c.transform)
            .u32le(static_cast<uint32_t>(c.scale));
    }
    if (trailer) {
        b.u8(100).u8(64).u8(0).u8(2).u8(2);
    }
    return b.take();
}

RiffNode Articulation(const std::vector<TestConnection>& blocks, bool level2, bool trailer) {
    return RiffNode::List(
        level2 ? "lar2" : "lart",
        {RiffNode::Chunk(level2 ? "art2" : "art1", Connections(blocks, trailer))});
}

RiffNode Info(const std::string& name) {
    Bytes text(name.begin(), name.end());
    text.push_back(0);
    return RiffNode::List("INFO", {RiffNode::Chunk("INAM", text)});
}

} // namespace

Bytes BuildDls(const TestCollection& c) {
    std::vector<RiffNode> instruments;
    for (const TestInstrument& in : c.instruments) {
        std::vector<RiffNode> regions;
        for (const TestRegion& r : in.regions) {
            ByteBuilder rgnh;
            rgnh.u16le(r.keyLow)
                .u16le(r.keyHigh)
                .u16le(r.velocityLow)
                .u16le(r.velocityHigh)
                .u16le(0)
                .u16le(r.keyGroup);
            std::vector<RiffNode> parts{RiffNode::Chunk("rgnh", rgnh.take())};
            if (r.sample) {
                parts.push_back(RiffNode::Chunk("wsmp", SampleInfoBytes(*r.sample)));
            }
            ByteBuilder wlnk;
            wlnk.u16le(0).u16le(0).u32le(1).u32le(r.cue);
            parts.push_back(RiffNode::Chunk("wlnk", wlnk.take()));
            if (!r.articulation.empty()) {
                parts.push_back(Articulation(r.articulation, r.level2, false));
            }
            regions.push_back(RiffNode::List("rgn ", std::move(parts)));
        }
        ByteBuilder insh;
        insh.u32le(static_cast<uint32_t>(in.regions.size())).u32le(in.bank).u32le(in.program);
        std::vector<RiffNode> parts{RiffNode::Chunk("insh", insh.take()),
                                    RiffNode::List("lrgn", std::move(regions))};
        if (!in.articulation.empty() || in.trailer) {
            parts.push_back(Articulation(in.articulation, true, in.trailer));
        }
        parts.push_back(Info(in.name));
        instruments.push_back(RiffNode::List("ins ", std::move(parts)));
    }
    std::vector<RiffNode> waves;
    std::vector<uint32_t> offsets;
    uint32_t offset = 0;
    for (size_t i = 0; i < c.waves.size(); ++i) {
        const TestWave& w = c.waves[i];
        const uint16_t bytesPerSample = static_cast<uint16_t>(w.bits / 8);
        ByteBuilder fmt;
        fmt.u16le(1)
            .u16le(1)
            .u32le(w.sampleRate)
            .u32le(w.sampleRate * bytesPerSample)
            .u16le(bytesPerSample);
        fmt.u16le(w.bits).u16le(0);
        ByteBuilder data;
        for (int16_t s : w.pcm) {
            if (w.bits == 8) {
                data.u8(static_cast<uint8_t>((s >> 8) + 128));
            } else {
                data.u16le(static_cast<uint16_t>(s));
            }
        }
        std::vector<RiffNode> parts{RiffNode::Chunk("fmt ", fmt.take())};
        if (w.sample) {
            parts.push_back(RiffNode::Chunk("wsmp", SampleInfoBytes(*w.sample)));
        }
        parts.push_back(RiffNode::Chunk("data", data.take()));
        parts.push_back(Info("wave" + std::to_string(i)));
        RiffNode wave = RiffNode::List("wave", std::move(parts));
        offsets.push_back(offset);
        offset += static_cast<uint32_t>(wave.Encode().size());
        waves.push_back(std::move(wave));
    }
    ByteBuilder colh;
    colh.u32le(static_cast<uint32_t>(c.instruments.size()));
    ByteBuilder vers;
    vers.u32le(0x00010000).u32le(1);
    std::vector<RiffNode> top{RiffNode::Chunk("colh", colh.take()),
                              RiffNode::Chunk("vers", vers.take()),
                              RiffNode::List("lins", std::move(instruments))};
    if (c.poolTable) {
        ByteBuilder ptbl;
        ptbl.u32le(8).u32le(static_cast<uint32_t>(offsets.size()));
        for (uint32_t o : offsets) {
            ptbl.u32le(o);
        }
        top.push_back(RiffNode::Chunk("ptbl", ptbl.take()));
    }
    top.push_back(RiffNode::List("wvpl", std::move(waves)));
    top.push_back(Info("collection"));
    return RiffNode::Riff("DLS ", std::move(top)).Encode();
}

std::shared_ptr<const DlsCollection> ReadBuilt(const TestCollection& collection) {
    const Bytes bytes = BuildDls(collection);
    DlsReadOutcome read = ReadDls(bytes);
    if (read.status != DlsReadStatus::Ok) {
        throw std::runtime_error("test collection does not read back: " + read.diagnostics.failure);
    }
    return std::make_shared<const DlsCollection>(std::move(read.collection));
}

int32_t StoredTime(double seconds) {
    return static_cast<int32_t>(std::log(seconds) / std::log(2.0) * 78643200.0);
}

std::vector<TestConnection> ConverterArticulation(int32_t panScale, double attack, double release,
                                                  int32_t sustainTenths, double decay) {
    return {
        {0, 0, 0x0004, 0, panScale},
        {0, 0, 0x0206, 0, StoredTime(attack)},
        {0, 0, 0x0209, 0, StoredTime(release)},
        {0, 0, 0x020A, 0, sustainTenths * 65536},
        {0, 0, 0x0207, 0, StoredTime(decay)},
        {0, 0, 0x030E, 0, 0},
    };
}

} // namespace sonvex::playtest
