// SPDX-License-Identifier: GPL-3.0-or-later
// The driver's real converters: the two sequence converters and the bank converter.
#include "bank2dls/vab_converter.h"
#include "convert/batch_conversion.h"
#include "seq2smf/seq_converter.h"
#include "seq2smf/ssq_converter.h"

namespace sonvex {

Converters StandardConverters(RecognitionRules rules) {
    Converters c;
    const SmfRules smfRules =
        rules == RecognitionRules::Classic ? SmfRules::Classic : SmfRules::Extended;
    c.seq = [smfRules](uint64_t offset, const std::string& game, const std::string& stem,
                       Feedback& feedback) {
        const SeqConversion r = ConvertSeq(offset, game, stem, feedback, smfRules);
        return SequenceOutcome{r.result, r.smfFilesMade};
    };
    c.ssq = [smfRules](uint64_t offset, const std::string& game, const std::string& stem,
                       Feedback& feedback) {
        const SeqConversion r = ConvertSsq(offset, game, stem, feedback, smfRules);
        return SequenceOutcome{r.result, r.smfFilesMade};
    };
    c.vab = [rules](uint64_t vh, uint64_t vb, const std::string& vhPath, const std::string& vbPath,
                    const std::string& dlsPath, std::string_view title, Feedback& feedback) {
        VabConvertOptions options;
        options.rules = rules;
        return ConvertVabToDls(vh, vb, vhPath, vbPath, dlsPath, title, feedback, options).result;
    };
    return c;
}

} // namespace sonvex
