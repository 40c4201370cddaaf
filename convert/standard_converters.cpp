// SPDX-License-Identifier: GPL-3.0-or-later
// The driver's real converters: the two sequence converters and the bank converter.
#include "bank2dls/sf2_writer.h"
#include "bank2dls/vab_converter.h"
#include "chunkfile/chunk_file.h"
#include "convert/batch_conversion.h"
#include "platform/messages.h"
#include "seq2smf/seq_converter.h"
#include "seq2smf/ssq_converter.h"

namespace sonvex {

namespace {

// "NAME.dls" becomes "NAME.sf2".
std::string Sf2PathOf(const std::string& dlsPath) {
    const size_t dot = dlsPath.rfind('.');
    const size_t slash = dlsPath.rfind('/');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? dlsPath.substr(0, dot) : dlsPath) + ".sf2";
}

} // namespace

Converters StandardConverters(RecognitionRules rules, BankFormat banks) {
    Converters c;
    const SmfRules smfRules =
        rules == RecognitionRules::Classic ? SmfRules::Classic : SmfRules::Extended;
    c.seq = [smfRules](uint64_t offset, const std::string& game, const std::string& stem,
                       Feedback& feedback) {
        const SeqConversion r = ConvertSeq(offset, game, stem, feedback, smfRules);
        return SequenceOutcome{r.result, r.smfFilesMade, r.diagnostics.failure};
    };
    c.ssq = [smfRules](uint64_t offset, const std::string& game, const std::string& stem,
                       Feedback& feedback) {
        const SeqConversion r = ConvertSsq(offset, game, stem, feedback, smfRules);
        return SequenceOutcome{r.result, r.smfFilesMade, r.diagnostics.failure};
    };
    c.vab = [rules, banks](uint64_t vh, uint64_t vb, const std::string& vhPath,
                           const std::string& vbPath, const std::string& dlsPath,
                           std::string_view title, Feedback& feedback) {
        VabConvertOptions options;
        options.rules = rules;
        const VabConversion converted =
            ConvertVabToDls(vh, vb, vhPath, vbPath, dlsPath, title, feedback, options);
        const ConvertResult r = converted.result;
        if (banks == BankFormat::Dls ||
            (r != ConvertResult::Done && r != ConvertResult::PartlyDone)) {
            return BankOutcome{r, converted.diagnostics.failure};
        }
        // The SoundFont is made from the collection just written.
        std::string error;
        const bool wrote = ConvertDlsToSf2(dlsPath, Sf2PathOf(dlsPath), error);
        if (banks == BankFormat::Sf2) {
            ChunkFile::Delete(dlsPath);
        }
        if (!wrote) {
            ShowNumberedMessage(feedback, MessageId::BankOutputOpenFailed,
                                MessageSubject{Sf2PathOf(dlsPath), -1, error});
            return BankOutcome{ConvertResult::OpenFailed, error};
        }
        return BankOutcome{r, converted.diagnostics.failure};
    };
    c.rules = rules;
    return c;
}

} // namespace sonvex
