// SPDX-License-Identifier: GPL-3.0-or-later
// Event translation shared by the "pQES" and "SSsq" converters.
#include "seq2smf/seq_translator.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "formats/diagnostics.h"

namespace sonvex {

namespace {

constexpr std::string_view kLoopStart = "Loop_Start";
constexpr std::string_view kLoopEnd = "Loop_End";

// Game data keeps data bytes below 0x80; a damaged one is cut to 7 bits so that it can
// never be taken for a status byte by whoever reads the SMF.
constexpr uint8_t DataByte(uint8_t b) {
    return static_cast<uint8_t>(b & 0x7F);
}

void WriteMarker(SmfWriter& out, std::string_view text) {
    out.WriteBytes({0xFF, 0x06, static_cast<uint8_t>(text.size() + 1)});
    out.WriteBytes(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    out.WriteBytes({0x00});
}

} // namespace

TrackWrite WriteTrack(SeqTranslator& translator, SmfWriter& out, const std::string& item,
                      const std::string& path) {
    int64_t at = 0;
    TrackWrite written;
    switch (translator.TranslateTrack(out, &at)) {
    case TrackOutcome::Ended:
        if (!out.FinishSmf()) {
            written = {ConvertResult::OpenFailed, item + ": writing " + path + " failed"};
        }
        return written;
    case TrackOutcome::DeltaTooLarge:
        written = {ConvertResult::CannotConvert,
                   item + ": event at " + HexOffset(at) + ": delta time above 0x0FFFFFFF"};
        break;
    case TrackOutcome::InputEnded:
        written = {ConvertResult::InputEnded,
                   item + ": event at " + HexOffset(at) + " cut short by the end of the file"};
        break;
    case TrackOutcome::WriteFailed:
        written = {ConvertResult::OpenFailed, item + ": writing " + path + " failed"};
        break;
    }
    out.AbandonSmf();
    return written;
}

uint32_t MicrosecondsPerQuarter(uint32_t beatsPerMinute) {
    if (beatsPerMinute == 0) {
        return 0xFFFFFF;
    }
    const double micros = 60.0 / static_cast<double>(beatsPerMinute) * 1000000.0;
    return static_cast<uint32_t>(std::min(micros, static_cast<double>(0xFFFFFF)));
}

void SeqTranslator::Reset() {
    reader_.Reset();
    pendingDelta_ = 0;
    std::fill(std::begin(bankSent_), std::end(bankSent_), false);
    std::fill(std::begin(programSet_), std::end(programSet_), false);
    nrpnMsb_ = 0x7F;
    loopStartWritten_ = false;
    loopEndWritten_ = false;
    loopCountWritten_ = false;
    loopToggleOpen_ = false;
}

TrackOutcome SeqTranslator::TranslateTrack(SmfWriter& out, int64_t* errorOffset) {
    SeqEvent event;
    while (true) {
        const SeqReadResult r = reader_.Next(event);
        if (r != SeqReadResult::Event) {
            if (errorOffset) {
                *errorOffset = event.offset;
            }
            return r == SeqReadResult::DeltaTooLarge ? TrackOutcome::DeltaTooLarge
                                                     : TrackOutcome::InputEnded;
        }
        Translate(event, out);
        if (out.WriteFailed()) {
            if (errorOffset) {
                *errorOffset = event.offset;
            }
            return TrackOutcome::WriteFailed;
        }
        if (event.kind == SeqEventKind::EndOfTrack) {
            return TrackOutcome::Ended;
        }
    }
}

void SeqTranslator::WriteDelta(const SeqEvent& event, SmfWriter& out) {
    out.WriteDeltaTime(event.delta, pendingDelta_);
    pendingDelta_ = 0;
}

void SeqTranslator::WriteLoopCount(uint8_t value, SmfWriter& out) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%03u", static_cast<unsigned>(value));
    out.WriteBytes({0xFF, 0x01, 0x04, static_cast<uint8_t>(digits[0]),
                    static_cast<uint8_t>(digits[1]), static_cast<uint8_t>(digits[2]), 0x00});
    loopCountWritten_ = true;
}

void SeqTranslator::WriteFirstBankSelect(int channel, SmfWriter& out) {
    if (bankSent_[channel]) {
        return;
    }
    const auto control = static_cast<uint8_t>(0xB0 | channel);
    out.WriteBytes({control, 0x00, 0x00, 0x00, control, 0x20, 0x01, 0x00});
    bankSent_[channel] = true;
}

void SeqTranslator::Translate(const SeqEvent& event, SmfWriter& out) {
    const uint8_t s = event.status;
    switch (event.kind) {
    case SeqEventKind::Unused:
    case SeqEventKind::Orphan:
    case SeqEventKind::System:
    case SeqEventKind::OtherMeta:
        // Not part of the output; dropping them whole keeps the SMF well formed.
        Drop(event);
        return;
    case SeqEventKind::EndOfTrack:
        // Always with length 0: a length byte that promised data would break the track.
        WriteDelta(event, out);
        out.WriteBytes({0xFF, 0x2F, 0x00});
        return;
    case SeqEventKind::Tempo:
        WriteDelta(event, out);
        if (dialect_ == SeqDialect::Seq) {
            out.WriteBytes({0xFF, 0x51, 0x03, event.data[1], event.data[2], event.data[3]});
        } else {
            const uint32_t micros =
                MicrosecondsPerQuarter(static_cast<uint32_t>(event.data[1] | (event.data[2] << 8)));
            out.WriteBytes({0xFF, 0x51, 0x03, static_cast<uint8_t>(micros >> 16),
                            static_cast<uint8_t>(micros >> 8), static_cast<uint8_t>(micros)});
        }
        return;
    case SeqEventKind::Channel:
        break;
    }

    switch (s >> 4) {
    case 0x8:
    case 0x9: {
        WriteDelta(event, out);
        const int channel = s & 0x0F;
        const bool sounds = (s >> 4) == 0x9 && DataByte(event.data[1]) != 0;
        if (rules_ == SmfRules::Extended && sounds && !programSet_[channel]) {
            // The console plays such a channel with the program of its own number.
            WriteFirstBankSelect(channel, out);
            out.WriteBytes(
                {static_cast<uint8_t>(0xC0 | channel), static_cast<uint8_t>(channel), 0x00});
            programSet_[channel] = true;
        }
        out.WriteBytes({s, DataByte(event.data[0]), DataByte(event.data[1])});
        return;
    }
    case 0xB:
        TranslateControl(event, out);
        return;
    case 0xC: {
        WriteDelta(event, out);
        const int channel = s & 0x0F;
        WriteFirstBankSelect(channel, out);
        programSet_[channel] = true;
        out.WriteBytes({s, DataByte(event.data[0])});
        return;
    }
    default: // 0xE
        WriteDelta(event, out);
        if (dialect_ == SeqDialect::Seq) {
            out.WriteBytes({s, DataByte(event.data[0]), DataByte(event.data[1])});
        } else {
            // One data byte in the source: it becomes the first data byte, then a zero.
            out.WriteBytes({s, DataByte(event.data[0]), 0x00});
        }
        return;
    }
}

void SeqTranslator::TranslateControl(const SeqEvent& event, SmfWriter& out) {
    const uint8_t s = event.status;
    const uint8_t c = event.data[0];
    const uint8_t v = event.data[1];
    switch (c) {
    case 0: // bank select, followed by bank select LSB 1
        WriteDelta(event, out);
        out.WriteBytes({s, 0x00, DataByte(v), 0x00, s, 0x20, 0x01});
        return;
    case 1:
    case 7:
    case 10:
    case 11:
    case 12:
    case 64:
    case 91:
        WriteDelta(event, out);
        out.WriteBytes({s, c, DataByte(v)});
        return;
    case 121: // reset all controllers becomes all notes off, value kept
        WriteDelta(event, out);
        out.WriteBytes({s, 0x7B, DataByte(v)});
        return;
    case 6: // data entry: the loop count after NRPN 20
        if (nrpnMsb_ == 20 && !loopCountWritten_) {
            WriteDelta(event, out);
            WriteLoopCount(v, out);
        } else {
            Drop(event);
        }
        return;
    case 98: // NRPN LSB: the loop count inside an open loop
        // The console reads no count from it after a loop start; the classic rules did.
        if (loopToggleOpen_ ||
            (rules_ == SmfRules::Classic && loopStartWritten_ && !loopCountWritten_)) {
            WriteDelta(event, out);
            WriteLoopCount(v, out);
        } else {
            Drop(event);
        }
        return;
    case 99: // NRPN MSB: loop points
        nrpnMsb_ = v;
        if (v == 20 && !loopStartWritten_) {
            WriteDelta(event, out);
            WriteMarker(out, kLoopStart);
            loopStartWritten_ = true;
        } else if (v == 30 && !loopEndWritten_) {
            WriteDelta(event, out);
            WriteMarker(out, kLoopEnd);
            loopEndWritten_ = true;
        } else if (v == 40) {
            WriteDelta(event, out);
            WriteMarker(out, loopToggleOpen_ ? kLoopEnd : kLoopStart);
            loopToggleOpen_ = !loopToggleOpen_;
        } else {
            Drop(event);
        }
        return;
    default:
        Drop(event);
        return;
    }
}

} // namespace sonvex
