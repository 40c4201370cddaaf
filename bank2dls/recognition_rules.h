// SPDX-License-Identifier: GPL-3.0-or-later
// Which rules recognise sound banks and sequences: the classic ones alone, or the classic
// ones extended for the layouts real games use. Shared by the scanner, the analysis run,
// the bank converter and the batch driver.
#pragma once

namespace sonvex {

enum class RecognitionRules {
    // Extended: what the classic rules find is found and converted the same, byte for byte;
    // in addition a bank body is located by its header's table of sample sizes where the
    // zero-block search finds nothing in it, "SEQp" is a sequence magic, and a ".vh" file
    // is scanned right before the ".vb" file of the same name. Banks convert with the
    // tuning and volume envelopes the console gives their tones (only these change bytes).
    Extended,
    // Classic: only the zero-block search, the "pQES" magic and the files in picked order,
    // for lists that must match ones made by these rules.
    Classic
};

} // namespace sonvex
