// SPDX-License-Identifier: GPL-3.0-or-later
// The driver's real converters: the two sequence converters and the bank converter.
#include "bank2dls/vab_converter.h"
#include "convert/batch_conversion.h"
#include "seq2smf/seq_converter.h"
#include "seq2smf/ssq_converter.h"

namespace sonvex {

Converters StandardConverters(RecognitionRules rules) {
    Converters c;
    c.seq = [](uint64_t offset, const std::string& game, const std::string& stem,
               Feedback& feedback) {
        const SeqConversion r = ConvertSeq(offset, game, stem, feedback);
        return SequenceOutcome{r.result, r.smfFilesMade, r.diagnostics.failure};
    };
    c.ssq = [](uint64_t offset, const std::string& game, const std::string& stem,
               Feedback& feedback) {
        const SeqConversion r = ConvertSsq(offset, game, stem, feedback);
        return SequenceOutcome{r.result, r.smfFilesMade, r.diagnostics.failure};
    };
    c.vab = [rules](uint64_t vh, uint64_t vb, const std::string& vhPath, const std::string& vbPath,
                    const std::string& dlsPath, std::string_view title, Feedback& feedback) {
        VabConvertOptions options;
        options.rules = rules;
        const VabConversion r =
            ConvertVabToDls(vh, vb, vhPath, vbPath, dlsPath, title, feedback, options);
        return BankOutcome{r.result, r.diagnostics.failure};
    };
    c.rules = rules;
    return c;
}

} // namespace sonvex
