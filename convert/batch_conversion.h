// SPDX-License-Identifier: GPL-3.0-or-later
// The batch conversion driver: checks the output folder, then walks a convert list
// from top to bottom and hands each convertible entry to its converter, naming the
// outputs, reporting status and progress, and counting the files made.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bank2dls/recognition_rules.h"
#include "convlist/convert_list.h"
#include "platform/feedback.h"
#include "platform/result_code.h"

namespace sonvex {

// What the main dialog shows in the output-folder box when no folder has been chosen.
extern const char* const kNoFolderChosenText;

// A sequence converter's answer: its result, the SMF files it completed and, for a
// result other than Done, why (the converter's own diagnostic).
struct SequenceOutcome {
    ConvertResult result = ConvertResult::CannotConvert;
    int smfFilesMade = 0;
    std::string failure;
};

// The bank converter's answer: its result and, when it made nothing, why.
struct BankOutcome {
    BankOutcome(ConvertResult r = ConvertResult::CannotConvert, std::string why = {})
        : result(r), failure(std::move(why)) {}
    ConvertResult result;
    std::string failure;
};

// The converters the driver calls; tests replace them to see exactly what is asked.
struct Converters {
    // (offset, game-file path, SMF name stem, feedback)
    std::function<SequenceOutcome(uint64_t, const std::string&, const std::string&, Feedback&)> seq;
    std::function<SequenceOutcome(uint64_t, const std::string&, const std::string&, Feedback&)> ssq;
    // (VH offset, VB offset, VH game-file path, VB game-file path, DLS path, list title, feedback)
    std::function<BankOutcome(uint64_t, uint64_t, const std::string&, const std::string&,
                              const std::string&, std::string_view, Feedback&)>
        vab;
    // Extended: a list that holds items of several game files names each output after its
    // own game file, numbered per game file. Classic: every output after the list.
    RecognitionRules rules = RecognitionRules::Extended;
};

// The bank files a conversion writes: the DLS collection, a SoundFont 2 bank of the same
// name beside it, or the SoundFont 2 bank alone.
enum class BankFormat { Dls, Both, Sf2 };

// The real sequence and bank converters; the bank converter locates samples by the
// given rules (the dialogs always use the extended ones) and writes `banks`.
Converters StandardConverters(RecognitionRules rules = RecognitionRules::Extended,
                              BankFormat banks = BankFormat::Dls);

// An item that made no output, and why.
struct ItemFailure {
    uint32_t type = 0;     // the entry's type code ("VH" for a bank)
    int32_t number = 0;    // the entry's number
    std::string gameFile;  // the game file's path (the VH file's for a bank)
    uint64_t offset = 0;   // the item's offset in it
    std::string reason;    // the converter's diagnostic, or the message it showed
    int messageNumber = 0; // the numbered message shown for it, 0 when none
};

struct ConversionRunResult {
    bool ran = false;        // false when the list could not be opened or its header is cut short
    int filesMade = 0;       // SMF and DLS files completed
    bool endedEarly = false; // a converter ended the run
    int itemsMade = 0;       // items converted (in full or, for banks, in part)
    // Entries no converter takes (other types, a "VH" without its "VB", a "VB" alone), and
    // the entries a run that ended early did not reach.
    int itemsSkipped = 0;
    std::vector<ItemFailure> failures; // items handed to a converter that made nothing
};

// Items converted before the list walk reaches them (by a pipeline beside the scan). The
// walk asks for each convertible item in list order, by its place in the list (its first
// entry, counted from 0) and its entries; the answer is what the converter returned, with
// its messages replayed into `feedback` and its outputs moved to the names the walk gives.
// nullopt when the item was not converted ahead: the walk then calls the converter itself.
class ConvertedAhead {
  public:
    virtual ~ConvertedAhead() = default;
    virtual std::optional<SequenceOutcome> TakeSequence(size_t place, const ListEntry& entry,
                                                        const std::string& stem,
                                                        Feedback& feedback) = 0;
    virtual std::optional<BankOutcome> TakeBank(size_t place, const ListEntry& header,
                                                const ListEntry& body, const std::string& dlsPath,
                                                Feedback& feedback) = 0;
    // The run ended at the item taken last: nothing after it is wanted.
    virtual void RunEnded() = 0;
};

// Converts the list at `listPath` into `outputFolder` (which must exist). `listTitle` is
// the list's file name without folder and extension; it names the outputs and goes into
// the DLS texts. Items in `ahead` are taken from there.
ConversionRunResult RunConversion(const std::string& listPath, const std::string& outputFolder,
                                  std::string_view listTitle, Feedback& feedback,
                                  const Converters& converters = StandardConverters(),
                                  ConvertedAhead* ahead = nullptr);

// Checks the output folder text before a run: message 07 when no folder was chosen;
// otherwise `folderText` becomes its full path and is shown (a refresh), and a missing
// folder is created (one level), message 08 when that fails. Returns the full path, or
// nullopt after a message.
std::optional<std::string> PrepareOutputFolder(std::string& folderText, Feedback& feedback);

// The dialog-free part of the convert command: the folder check above, then, for the
// list the user chose (nullopt when the dialog was cancelled), message 09 when it does
// not exist, else a run titled by the list's name. `folderText` receives the full path.
std::optional<ConversionRunResult>
StartConversion(std::string& folderText, const std::optional<std::string>& chosenList,
                Feedback& feedback, const Converters& converters = StandardConverters());

// Progress position after `handled` of `count` entries, truncated, within 0..100.
int ConversionProgress(uint32_t handled, uint32_t count);

// The list's file name without folder and extension.
std::string ListTitleOf(const std::string& listPath);

} // namespace sonvex
