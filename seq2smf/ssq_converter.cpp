// SPDX-License-Identifier: GPL-3.0-or-later
// The "SSsq" converter: header block from 16 bytes before the magic, then the shared
// event translation with one-byte pitch bends and tempos in beats per minute.
#include "seq2smf/ssq_converter.h"

#include <cinttypes>
#include <cstdio>
#include <limits>

#include "chunkfile/chunk_file.h"
#include "formats/diagnostics.h"
#include "platform/byte_cursor.h"
#include "platform/messages.h"
#include "seq2smf/seq_translator.h"
#include "seq2smf/smf_writer.h"

namespace sonvex {

SeqConversion ConvertSsq(uint64_t offset, const std::string& gamePath, const std::string& smfStem,
                         Feedback& feedback, SmfRules rules) {
    SeqConversion conversion;
    const std::string item = "SSsq at " + HexOffset(offset);
    auto fail = [&conversion](ConvertResult result, std::string text) {
        conversion.result = result;
        conversion.diagnostics.failure = std::move(text);
        return conversion;
    };

    ChunkFile game;
    if (!game.OpenRead(gamePath)) {
        ShowNumberedMessage(feedback, MessageId::SsqInputOpenFailed);
        return fail(ConvertResult::OpenFailed, "cannot open game file " + gamePath);
    }
    if (offset < static_cast<uint64_t>(-kSsqBlockStart)) {
        // The division and tempo would lie before the start of the file.
        return fail(ConvertResult::CannotConvert,
                    item + ": header block would begin before the file");
    }

    uint8_t block[kSsqBlockSize] = {};
    const auto blockStart = static_cast<int64_t>(offset) + kSsqBlockStart;
    if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / 2) ||
        game.Seek(blockStart, SeekOrigin::Begin) < 0 ||
        game.Read(block, kSsqBlockSize) != kSsqBlockSize) {
        return fail(ConvertResult::InputEnded,
                    item + ": header block cut short by the end of the file");
    }
    ByteCursor cursor(block, sizeof block);
    cursor.seek(static_cast<size_t>(kSsqDivisionAt - kSsqBlockStart));
    const uint16_t division = cursor.u16le();
    cursor.seek(static_cast<size_t>(kSsqTempoAt - kSsqBlockStart));
    const uint32_t beatsPerMinute = cursor.u32le();

    const std::string path = smfStem + ".mid";
    SmfWriter writer;
    if (!writer.BeginSmf(path, division, MicrosecondsPerQuarter(beatsPerMinute), 4, 2)) {
        ShowNumberedMessage(feedback, MessageId::SsqOutputOpenFailed);
        return fail(ConvertResult::OpenFailed, item + ": cannot create " + path);
    }
    // Back one byte: the last byte of the block is the first event byte.
    game.Seek(-1, SeekOrigin::Current);

    SeqTranslator translator(game, SeqDialect::Ssq, rules);
    translator.Reset();
    const TrackWrite written = WriteTrack(translator, writer, item, path);
    if (written.result != ConvertResult::Done) {
        if (written.result == ConvertResult::OpenFailed) {
            ShowNumberedMessage(feedback, MessageId::SsqOutputOpenFailed);
        }
        return fail(written.result, written.failure);
    }
    conversion.smfFilesMade = 1;
    return conversion;
}

} // namespace sonvex
