// SPDX-License-Identifier: GPL-3.0-or-later
// The expected segment file, chunk by chunk from the layout tables, and the byte diff.
#include "tests/segment/segment_test_support.h"

#include <bit>

namespace sonvex::segtest {

namespace {

Bytes TrackHeader(const char* classText, std::string_view chunkId, std::string_view formType) {
    ByteBuilder b;
    b.append(GuidBytes(classText)).u32le(0).u32le(1);
    b.u32le(chunkId.empty() ? 0 : testkit::Id(chunkId))
        .u32le(formType.empty() ? 0 : testkit::Id(formType));
    return b.take();
}

Bytes Bins(const ExpectedInstrument& i) {
    ByteBuilder b;
    b.u32le(i.program + 0x100u)
        .u32le(i.program + 0x100u)
        .fill(16)
        .u32le(i.channel)
        .u32le(0x0000246B);
    b.u8(i.pan).u8(i.volume).u16le(0).u32le(0).u16le(static_cast<uint16_t>(i.bendRange)).u16le(0);
    return b.take();
}

} // namespace

Bytes ExpectedSegment::Build() const {
    ByteBuilder segh;
    segh.u32le(repeats).u32le(static_cast<uint32_t>(length)).u32le(0);
    segh.u32le(static_cast<uint32_t>(loopStart)).u32le(static_cast<uint32_t>(loopEnd)).u32le(0);
    segh.u64le(0).u32le(0).u32le(0);

    ByteBuilder tetr;
    tetr.u32le(16);
    for (const auto& [time, bpm] : tempos) {
        tetr.u32le(static_cast<uint32_t>(time)).u32le(0).u64le(std::bit_cast<uint64_t>(bpm));
    }

    ByteBuilder evtl;
    evtl.u32le(20);
    for (const ExpectedItem& i : items) {
        evtl.u32le(static_cast<uint32_t>(i.time))
            .u32le(static_cast<uint32_t>(i.duration))
            .u32le(i.channel);
        evtl.u16le(0).u8(i.status).u8(i.data1).u8(i.data2).fill(3);
    }
    ByteBuilder seqt;
    seqt.append(RiffNode::Chunk("evtl", evtl.take()).Encode());
    seqt.append(RiffNode::Chunk("curl", ByteBuilder().u32le(32).take()).Encode());

    std::vector<RiffNode> lbdl;
    int guid = 1;
    for (const ExpectedBand& band : bands) {
        std::vector<RiffNode> lbil;
        for (const ExpectedInstrument& i : band.instruments) {
            ByteBuilder refh;
            refh.append(GuidBytes("{480FF4B0-28B2-11D1-BEF7-00C04FBF8FEF}")).u32le(0x14);
            lbil.push_back(RiffNode::List(
                "lbin", {RiffNode::Chunk("bins", Bins(i)),
                         RiffNode::List("DMRF", {RiffNode::Chunk("refh", refh.take()),
                                                 RiffNode::Chunk("name", Utf16z(dlsName)),
                                                 RiffNode::Chunk("file", Utf16z(dlsFile))})}));
        }
        ByteBuilder bd2h;
        bd2h.u32le(static_cast<uint32_t>(band.time)).u32le(static_cast<uint32_t>(band.time));
        lbdl.push_back(RiffNode::List(
            "lbnd",
            {RiffNode::Chunk("bd2h", bd2h.take()),
             RiffNode::Riff("DMBD",
                            {RiffNode::Chunk("guid", GuidBytes(TestGuid(guid++))),
                             RiffNode::List("UNFO", {RiffNode::Chunk("UNAM", Utf16z(band.name))}),
                             RiffNode::List("lbil", lbil)})}));
    }

    ByteBuilder tims;
    tims.u32le(8)
        .u32le(static_cast<uint32_t>(timeSignatureTime))
        .u8(beatsPerMeasure)
        .u8(beat)
        .u16le(1);
    ByteBuilder syex;
    syex.u32le(0).u32le(0).u32le(9).append({0xF0, 0x43, 0x10, 0x4C, 0, 0, 0x7E, 0, 0xF7});

    RiffNode file = RiffNode::Riff(
        "DMSG",
        {RiffNode::Chunk("segh", segh.take()), RiffNode::Chunk("guid", GuidBytes(TestGuid(0))),
         RiffNode::List("UNFO", {RiffNode::Chunk("UNAM", Utf16z(name)),
                                 RiffNode::Chunk("UART", Utf16z(u"Sonvex")),
                                 RiffNode::Chunk("UCOP", Utf16z(u"PS GAME'S MAKER"))}),
         RiffNode::List(
             "trkl",
             {RiffNode::Riff(
                  "DMTK",
                  {RiffNode::Chunk(
                       "trkh", TrackHeader("{D2AC2885-B39B-11D1-8704-00600893B1BD}", "tetr", "")),
                   RiffNode::Chunk("tetr", tetr.take())}),
              RiffNode::Riff(
                  "DMTK",
                  {RiffNode::Chunk(
                       "trkh", TrackHeader("{D2AC2886-B39B-11D1-8704-00600893B1BD}", "seqt", "")),
                   RiffNode::Chunk("seqt", seqt.take())}),
              RiffNode::Riff(
                  "DMTK",
                  {RiffNode::Chunk(
                       "trkh", TrackHeader("{D2AC2894-B39B-11D1-8704-00600893B1BD}", "", "DMBT")),
                   RiffNode::Riff("DMBT", {RiffNode::List("lbdl", lbdl)})}),
              RiffNode::Riff(
                  "DMTK",
                  {RiffNode::Chunk(
                       "trkh", TrackHeader("{D2AC2888-B39B-11D1-8704-00600893B1BD}", "", "TIMS")),
                   RiffNode::List("TIMS", {RiffNode::Chunk("tims", tims.take())})}),
              RiffNode::Riff(
                  "DMTK",
                  {RiffNode::Chunk(
                       "trkh", TrackHeader("{D2AC2887-B39B-11D1-8704-00600893B1BD}", "syex", "")),
                   RiffNode::Chunk("syex", syex.take())})})});
    return file.Encode();
}

std::string ByteDifference(const Bytes& actual, const Bytes& expected) {
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) {
        ++i;
    }
    if (i == actual.size() && i == expected.size()) {
        return {};
    }
    char head[96];
    std::snprintf(head, sizeof head, "first difference at 0x%zX (actual %zu bytes, expected %zu)\n",
                  i, actual.size(), expected.size());
    std::string out = head;
    for (const auto* side : {&actual, &expected}) {
        out += side == &actual ? "actual:  " : "expected:";
        const size_t from = i >= 8 ? i - 8 : 0;
        for (size_t k = from; k < from + 24 && k < side->size(); ++k) {
            char hex[8];
            std::snprintf(hex, sizeof hex, k == i ? " [%02X]" : " %02X", (*side)[k]);
            out += hex;
        }
        out += "\n";
    }
    return out;
}

} // namespace sonvex::segtest
