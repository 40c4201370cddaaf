// SPDX-License-Identifier: GPL-3.0-or-later
// The "pQES" converter: one SMF per sequence, numbered sets walked header by header.
#include "seq2smf/seq_converter.h"

#include <cinttypes>
#include <cstdio>
#include <limits>

#include "chunkfile/chunk_file.h"
#include "formats/diagnostics.h"
#include "platform/messages.h"
#include "seq2smf/seq_format.h"
#include "seq2smf/seq_translator.h"
#include "seq2smf/smf_writer.h"

namespace sonvex {

namespace {

std::string OutputPath(const std::string& stem, bool numbered, uint16_t id) {
    if (!numbered) {
        return stem + ".mid";
    }
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%02d.mid", static_cast<int>(id));
    return stem + suffix;
}

} // namespace

SeqConversion ConvertSeq(uint64_t offset, const std::string& gamePath, const std::string& smfStem,
                         Feedback& feedback, SmfRules rules) {
    SeqConversion conversion;
    const std::string item = "SEQ at " + HexOffset(static_cast<int64_t>(offset));
    auto fail = [&conversion](ConvertResult result, std::string text) {
        conversion.result = result;
        conversion.diagnostics.failure = std::move(text);
        return conversion;
    };

    ChunkFile game;
    if (!game.OpenRead(gamePath)) {
        ShowNumberedMessage(feedback, MessageId::SeqInputOpenFailed);
        return fail(ConvertResult::OpenFailed, "cannot open game file " + gamePath);
    }

    uint8_t block[kSeqHeaderSize] = {};
    if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / 2) ||
        game.Seek(static_cast<int64_t>(offset), SeekOrigin::Begin) < 0 ||
        game.Read(block, kSeqHeaderSize) != kSeqHeaderSize) {
        return fail(ConvertResult::InputEnded, item + ": header cut short by the end of the file");
    }
    SeqHeader header;
    (void)ParseSeqHeader(block, header);
    // Back one byte: a single sequence's events start at byte 15, a set's data length too.
    game.Seek(-1, SeekOrigin::Current);
    const bool numbered = header.Numbered();

    SeqTranslator translator(game, SeqDialect::Seq, rules);
    SmfWriter writer;
    while (true) {
        const std::string sequence =
            numbered ? item + ", sequence " + std::to_string(header.id) : item;
        uint8_t numerator = header.numerator;
        uint8_t denominator = header.denominatorExponent;
        if (numerator == 0 && denominator == 0) {
            numerator = 4;
            denominator = 2;
        }
        const std::string path = OutputPath(smfStem, numbered, header.id);
        if (!writer.BeginSmf(path, header.division, header.tempo, numerator, denominator)) {
            ShowNumberedMessage(feedback, MessageId::SeqOutputOpenFailed);
            return fail(ConvertResult::OpenFailed, sequence + ": cannot create " + path);
        }
        translator.Reset();
        if (numbered) {
            game.Seek(4, SeekOrigin::Current); // the data length, never used
        }

        const TrackWrite written = WriteTrack(translator, writer, sequence, path);
        if (written.result != ConvertResult::Done) {
            if (written.result == ConvertResult::OpenFailed) {
                ShowNumberedMessage(feedback, MessageId::SeqOutputOpenFailed);
            }
            return fail(written.result, written.failure);
        }
        ++conversion.smfFilesMade;
        if (!numbered) {
            break;
        }

        SeqHeader next;
        const int64_t end = game.Tell();
        const NextSequence step = ReadNextSequenceHeader(game, header.id, next);
        if (step == NextSequence::Truncated) {
            return fail(ConvertResult::InputEnded, sequence +
                                                       ": the header of the next sequence at " +
                                                       HexOffset(end) + " is cut short");
        }
        if (step != NextSequence::Follows) {
            // A break in the numbering, id 16, or the end of the file: the set is complete.
            break;
        }
        header = next;
    }
    return conversion;
}

} // namespace sonvex
