// SPDX-License-Identifier: GPL-3.0-or-later
// RIFF tree encoding and the DLS collection layout: "dlid", "colh", "vers", the
// instruments with regions and articulation, a pool table and one short wave.
#include "testkit/dls_builder.h"

namespace sonvex::testkit {

uint32_t Id(std::string_view c) {
    return static_cast<uint32_t>(static_cast<uint8_t>(c[0])) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c[1])) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c[2])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c[3])) << 24);
}

RiffNode RiffNode::Chunk(std::string_view id, Bytes data) {
    RiffNode n;
    n.id = Id(id);
    n.data = std::move(data);
    return n;
}

RiffNode RiffNode::List(std::string_view type, std::vector<RiffNode> children) {
    RiffNode n = Riff(type, std::move(children));
    n.id = Id("LIST");
    return n;
}

RiffNode RiffNode::Riff(std::string_view type, std::vector<RiffNode> children) {
    RiffNode n;
    n.id = Id("RIFF");
    n.type = Id(type);
    n.children = std::move(children);
    return n;
}

Bytes RiffNode::Encode() const {
    ByteBuilder body;
    if (id == Id("LIST") || id == Id("RIFF")) {
        body.u32le(type);
        for (const RiffNode& child : children) {
            body.append(child.Encode());
        }
    } else {
        body.append(data);
    }
    ByteBuilder out;
    out.u32le(id).u32le(static_cast<uint32_t>(body.size())).append(body.bytes());
    if (body.size() & 1) {
        out.u8(0);
    }
    return out.take();
}

namespace {

Bytes ConnectionBlocks(uint32_t count, uint16_t destination) {
    ByteBuilder b;
    b.u32le(8).u32le(count);
    for (uint32_t i = 0; i < count; ++i) {
        b.u16le(0)
            .u16le(0)
            .u16le(static_cast<uint16_t>(destination + i))
            .u16le(0)
            .u32le(0x7FFFFFFF);
    }
    return b.take();
}

Bytes InfoText(std::string_view s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

RiffNode Region(uint32_t index) {
    ByteBuilder rgnh;
    rgnh.u16le(0).u16le(127).u16le(0).u16le(127).u16le(0).u16le(0);
    ByteBuilder wsmp;
    wsmp.u32le(20).u16le(60).u16le(0).u32le(0).u32le(3).u32le(0).u32le(16).u32le(0).u32le(0).u32le(
        0);
    ByteBuilder wlnk;
    wlnk.u16le(0).u16le(0).u32le(1).u32le(index);
    return RiffNode::List(
        "rgn ", {RiffNode::Chunk("rgnh", rgnh.take()), RiffNode::Chunk("wsmp", wsmp.take()),
                 RiffNode::Chunk("wlnk", wlnk.take()), RiffNode::Chunk("dmpr", {1, 1}),
                 RiffNode::List("lar2", {RiffNode::Chunk("art2", ConnectionBlocks(6, 0x0200))})});
}

} // namespace

RiffNode DlsBuilder::tree() const {
    std::vector<RiffNode> lins;
    for (const DlsInstrument& ins : instruments_) {
        ByteBuilder insh;
        insh.u32le(ins.regions).u32le(ins.bank).u32le(ins.number);
        std::vector<RiffNode> regions;
        for (uint32_t r = 0; r < ins.regions; ++r) {
            regions.push_back(Region(r));
        }
        std::vector<RiffNode> children = {RiffNode::Chunk("insh", insh.take()),
                                          RiffNode::List("lrgn", regions)};
        if (ins.instrumentArticulation) {
            Bytes art2 = ConnectionBlocks(ins.instrumentBlocks, 0x0500);
            if (ins.trailerPresent) {
                art2.insert(art2.end(), ins.trailer.begin(), ins.trailer.end());
            }
            children.push_back(RiffNode::List("lar2", {RiffNode::Chunk("art2", art2)}));
        }
        children.push_back(RiffNode::List("INFO", {RiffNode::Chunk("INAM", InfoText("inst"))}));
        lins.push_back(RiffNode::List("ins ", children));
    }
    const uint32_t count = declaredCount_ >= 0 ? static_cast<uint32_t>(declaredCount_)
                                               : static_cast<uint32_t>(instruments_.size());
    ByteBuilder colh;
    colh.u32le(count);
    ByteBuilder vers;
    vers.u32le(0x00010000).u32le(1);
    ByteBuilder ptbl;
    ptbl.u32le(8).u32le(1).u32le(0);
    ByteBuilder fmt;
    fmt.u16le(1).u16le(1).u32le(44100).u32le(88200).u16le(2).u16le(16).u16le(0);
    ByteBuilder pcm;
    pcm.noise(112, 5);
    RiffNode wave = RiffNode::List(
        "wave", {RiffNode::Chunk("fmt ", fmt.take()), RiffNode::Chunk("data", pcm.take())});
    return RiffNode::Riff("DLS ",
                          {RiffNode::Chunk("dlid", ByteBuilder().noise(16, 9).take()),
                           RiffNode::Chunk("colh", colh.take()),
                           RiffNode::Chunk("vers", vers.take()), RiffNode::List("lins", lins),
                           RiffNode::Chunk("ptbl", ptbl.take()), RiffNode::List("wvpl", {wave}),
                           RiffNode::List("INFO", {RiffNode::Chunk("INAM", InfoText("bank"))})});
}

Bytes& Sf2Parts::table(std::string_view id) {
    for (auto& [name, bytes] : tables) {
        if (name == id) {
            return bytes;
        }
    }
    tables.emplace_back(std::string(id), Bytes());
    return tables.back().second;
}

RiffNode Sf2Parts::Tree() const {
    std::vector<RiffNode> pdta;
    for (const auto& [name, bytes] : tables) {
        pdta.push_back(RiffNode::Chunk(name, bytes));
    }
    return RiffNode::Riff(
        "sfbk",
        {RiffNode::List("INFO", {RiffNode::Chunk("ifil", ifil),
                                 RiffNode::Chunk("isng", {'E', 'M', 'U', '8', '0', '0', '0', 0}),
                                 RiffNode::Chunk("INAM", {'t', 'e', 's', 't', 0, 0})}),
         RiffNode::List("sdta", {RiffNode::Chunk("smpl", smpl)}),
         RiffNode::List("pdta", std::move(pdta))});
}

Sf2Parts OneSampleSf2(uint16_t program, uint32_t points) {
    auto name = [](ByteBuilder& b, std::string_view text) { b.text(text).fill(20 - text.size()); };
    Sf2Parts parts;
    parts.ifil = ByteBuilder().u16le(2).u16le(1).take();
    ByteBuilder smpl;
    for (uint32_t i = 0; i < points; ++i) {
        smpl.u16le(static_cast<uint16_t>(static_cast<int16_t>((i % 16) * 1000 - 8000)));
    }
    smpl.fill(2 * 46);
    parts.smpl = smpl.take();

    ByteBuilder phdr;
    name(phdr, "preset");
    phdr.u16le(program).u16le(0).u16le(0).u32le(0).u32le(0).u32le(0);
    name(phdr, "EOP");
    phdr.u16le(0).u16le(0).u16le(1).u32le(0).u32le(0).u32le(0);
    parts.table("phdr") = phdr.take();
    parts.table("pbag") = ByteBuilder().u16le(0).u16le(0).u16le(1).u16le(0).take();
    parts.table("pmod") = Bytes(10, 0);
    parts.table("pgen") = ByteBuilder().u16le(41).u16le(0).u32le(0).take();
    ByteBuilder inst;
    name(inst, "instrument");
    inst.u16le(0);
    name(inst, "EOI");
    inst.u16le(1);
    parts.table("inst") = inst.take();
    parts.table("ibag") = ByteBuilder().u16le(0).u16le(0).u16le(4).u16le(0).take();
    parts.table("imod") = Bytes(10, 0);
    parts.table("igen") = ByteBuilder()
                              .u16le(43)
                              .u16le(0x7F00) // key range 0..127
                              .u16le(54)
                              .u16le(1) // loop continuously
                              .u16le(58)
                              .u16le(60) // root key
                              .u16le(53)
                              .u16le(0) // sample 0
                              .u32le(0)
                              .take();
    ByteBuilder shdr;
    name(shdr, "sample");
    shdr.u32le(0).u32le(points).u32le(points / 2).u32le(points).u32le(44100);
    shdr.u8(60).u8(0).u16le(0).u16le(1);
    name(shdr, "EOS");
    shdr.fill(26);
    parts.table("shdr") = shdr.take();
    return parts;
}

} // namespace sonvex::testkit
