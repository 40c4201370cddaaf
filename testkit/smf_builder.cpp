// SPDX-License-Identifier: GPL-3.0-or-later
// Standard MIDI File builder: events appended with their delta times, the file
// assembled with big-endian header fields and track length.
#include "testkit/smf_builder.h"

namespace sonvex::testkit {

SmfBuilder& SmfBuilder::noteOn(uint32_t delta, uint8_t channel, uint8_t note, uint8_t velocity) {
    return event(delta, static_cast<uint8_t>(0x90 | (channel & 0x0F)), {note, velocity});
}

SmfBuilder& SmfBuilder::noteOff(uint32_t delta, uint8_t channel, uint8_t note, uint8_t velocity) {
    return event(delta, static_cast<uint8_t>(0x80 | (channel & 0x0F)), {note, velocity});
}

SmfBuilder& SmfBuilder::control(uint32_t delta, uint8_t channel, uint8_t controller,
                                uint8_t value) {
    return event(delta, static_cast<uint8_t>(0xB0 | (channel & 0x0F)), {controller, value});
}

SmfBuilder& SmfBuilder::program(uint32_t delta, uint8_t channel, uint8_t program) {
    return event(delta, static_cast<uint8_t>(0xC0 | (channel & 0x0F)), {program});
}

SmfBuilder& SmfBuilder::bend(uint32_t delta, uint8_t channel, uint16_t value) {
    return event(delta, static_cast<uint8_t>(0xE0 | (channel & 0x0F)),
                 {static_cast<uint8_t>(value & 0x7F), static_cast<uint8_t>((value >> 7) & 0x7F)});
}

SmfBuilder& SmfBuilder::event(uint32_t delta, uint8_t status, const Bytes& data) {
    track_.varLen(delta).u8(status).append(data);
    return *this;
}

SmfBuilder& SmfBuilder::sysex(uint32_t delta, const Bytes& body) {
    track_.varLen(delta).u8(0xF0).varLen(static_cast<uint32_t>(body.size())).append(body);
    return *this;
}

SmfBuilder& SmfBuilder::meta(uint32_t delta, uint8_t type, const Bytes& data) {
    track_.varLen(delta).u8(0xFF).u8(type).u8(static_cast<uint8_t>(data.size())).append(data);
    return *this;
}

SmfBuilder& SmfBuilder::text(uint32_t delta, std::string_view s) {
    return meta(delta, 0x01, Bytes(s.begin(), s.end()));
}

SmfBuilder& SmfBuilder::marker(uint32_t delta, std::string_view s) {
    return meta(delta, 0x06, Bytes(s.begin(), s.end()));
}

SmfBuilder& SmfBuilder::trackName(uint32_t delta, std::string_view s) {
    return meta(delta, 0x03, Bytes(s.begin(), s.end()));
}

SmfBuilder& SmfBuilder::tempo(uint32_t delta, uint32_t microsecondsPerQuarter) {
    return meta(delta, 0x51,
                {static_cast<uint8_t>(microsecondsPerQuarter >> 16),
                 static_cast<uint8_t>(microsecondsPerQuarter >> 8),
                 static_cast<uint8_t>(microsecondsPerQuarter)});
}

SmfBuilder& SmfBuilder::timeSignature(uint32_t delta, uint8_t numerator, uint8_t denominatorPower) {
    return meta(delta, 0x58, {numerator, denominatorPower, 24, 8});
}

SmfBuilder& SmfBuilder::endOfTrack(uint32_t delta) {
    return meta(delta, 0x2F, {});
}

SmfBuilder& SmfBuilder::raw(const Bytes& bytes) {
    track_.append(bytes);
    return *this;
}

SmfBuilder& SmfBuilder::writerPreamble(uint32_t microsecondsPerQuarter, uint8_t numerator,
                                       uint8_t denominatorPower) {
    trackName(0, "PS GAME'S SEQ");
    const std::string_view maker = "PS GAME'S MAKER";
    meta(0, 0x02, Bytes(maker.begin(), maker.end()));
    sysex(0, {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
    tempo(4, microsecondsPerQuarter);
    return timeSignature(8, numerator, denominatorPower);
}

SmfBuilder& SmfBuilder::nextTrack() {
    done_.push_back(track_.bytes());
    track_ = ByteBuilder();
    return *this;
}

Bytes SmfBuilder::build() const {
    ByteBuilder file;
    file.text("MThd").u32be(headerLength_).u16be(format_).u16be(trackCount_).u16be(division_);
    for (const Bytes& track : done_) {
        file.text("MTrk").u32be(static_cast<uint32_t>(track.size())).append(track);
    }
    file.text("MTrk").u32be(static_cast<uint32_t>(track_.size())).append(track_.bytes());
    if (done_.empty() && (track_.size() & 1)) {
        file.u8(0);
    }
    return file.take();
}

} // namespace sonvex::testkit
