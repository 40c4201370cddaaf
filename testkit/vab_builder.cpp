// SPDX-License-Identifier: GPL-3.0-or-later
// VAB bytes from program, tone and sample descriptions.
#include "testkit/vab_builder.h"

namespace sonvex::testkit {

VabBuilder& VabBuilder::program(int slot, VabProgram description) {
    programs_[slot] = std::move(description);
    return *this;
}

VabBuilder& VabBuilder::sample(Bytes vag, size_t gapAfter, uint8_t gapByte) {
    samples_.push_back(std::move(vag));
    gaps_.push_back(Bytes(gapAfter, gapByte));
    return *this;
}

VabBuilder& VabBuilder::vbLead(size_t bytes, uint8_t value) {
    lead_.assign(bytes, value);
    return *this;
}

VabBuilder& VabBuilder::programCount(uint16_t n) {
    programCount_ = n;
    return *this;
}

VabBuilder& VabBuilder::toneCount(uint16_t n) {
    toneCount_ = n;
    return *this;
}

VabBuilder& VabBuilder::vagCount(uint16_t n) {
    vagCount_ = n;
    return *this;
}

VabBuilder& VabBuilder::sizeTableEntry(size_t index, uint16_t units) {
    sizeEntries_[index] = units;
    return *this;
}

Bytes VabBuilder::BuildVh() const {
    uint32_t nonEmpty = 0;
    uint32_t tones = 0;
    for (const auto& [slot, description] : programs_) {
        const size_t count =
            description.toneCountField ? *description.toneCountField : description.tones.size();
        if (count != 0) {
            ++nonEmpty;
            tones += static_cast<uint32_t>(description.tones.size());
        }
    }
    const uint32_t vhSize = 2080 + 512 * nonEmpty + 512;
    ByteBuilder vh;
    vh.text("pBAV").u32le(7).u32le(0);
    vh.u32le(vhSize + static_cast<uint32_t>(BuildVb().size())); // bank size
    vh.u16le(0xEEEE);                                           // reserved
    vh.u16le(programCount_ ? *programCount_ : nonEmpty);
    vh.u16le(toneCount_ ? *toneCount_ : tones);
    vh.u16le(vagCount_ ? *vagCount_ : static_cast<uint32_t>(samples_.size()));
    vh.u8(127).u8(64).u8(0).u8(0).u32le(0xFFFFFFFF); // master volume, pan, attributes, reserved

    for (int slot = 0; slot < 128; ++slot) {
        auto it = programs_.find(slot);
        if (it == programs_.end()) {
            vh.fill(16, 0);
            continue;
        }
        const VabProgram& p = it->second;
        const size_t count = p.toneCountField ? *p.toneCountField : p.tones.size();
        vh.u8(static_cast<uint32_t>(count)).u8(p.volume).u8(p.priority).u8(p.mode).u8(p.pan).u8(0);
        vh.u16le(0).u32le(0xFFFFFFFF).u32le(0xFFFFFFFF);
    }
    for (const auto& [slot, p] : programs_) {
        const size_t count = p.toneCountField ? *p.toneCountField : p.tones.size();
        if (count == 0) {
            continue;
        }
        for (size_t j = 0; j < 16; ++j) {
            if (j >= p.tones.size()) {
                vh.fill(32, 0);
                continue;
            }
            const VabTone& t = p.tones[j];
            vh.u8(t.priority).u8(t.mode).u8(t.volume).u8(t.pan).u8(t.centreNote).u8(t.fineTune);
            vh.u8(t.lowKey)
                .u8(t.highKey)
                .u8(t.vibratoWidth)
                .u8(t.vibratoTime)
                .u8(t.portaWidth)
                .u8(t.portaTime);
            vh.u8(t.bendDown).u8(t.bendUp).u8(0xB1).u8(0xB2);
            vh.u16le(t.adsr1).u16le(t.adsr2);
            vh.u16le(static_cast<uint16_t>(t.programSet ? t.program : slot));
            vh.u16le(static_cast<uint16_t>(t.vagNumber));
            vh.u16le(0xC0).u16le(0xC1).u16le(0xC2).u16le(0xC3);
        }
    }
    // Sample sizes in units of 8 bytes; entry 0 is unused.
    for (size_t index = 0; index < 256; ++index) {
        const size_t sample = index - 1;
        uint32_t units = index > 0 && sample < samples_.size()
                             ? static_cast<uint32_t>(samples_[sample].size() / 8)
                             : 0;
        if (auto it = sizeEntries_.find(index); it != sizeEntries_.end()) {
            units = it->second;
        }
        vh.u16le(units);
    }
    return vh.take();
}

Bytes VabBuilder::BuildVb() const {
    ByteBuilder vb;
    vb.append(lead_);
    for (size_t i = 0; i < samples_.size(); ++i) {
        vb.append(samples_[i]).append(gaps_[i]);
    }
    return vb.take();
}

VabProgram Program(std::vector<VabTone> tones) {
    VabProgram p;
    p.tones = std::move(tones);
    return p;
}

VabTone Tone(int16_t vag, uint8_t lowKey, uint8_t highKey) {
    VabTone t;
    t.vagNumber = vag;
    t.lowKey = lowKey;
    t.highKey = highKey;
    return t;
}

} // namespace sonvex::testkit
