// SPDX-License-Identifier: GPL-3.0-or-later
// The order of work of a bank conversion: VH records, the instrument list, the pool
// table, then one wave per sample found in the VB.
#include "bank2dls/vab_converter.h"

#include <limits>

#include "bank2dls/adpcm_decoder.h"
#include "bank2dls/dls_writer.h"
#include "bank2dls/vab_records.h"
#include "bank2dls/vag_wave.h"
#include "chunkfile/chunk_file.h"
#include "platform/messages.h"

namespace sonvex {

namespace {

// Offsets beyond what a file position can hold are treated as past the end of the file.
long long Hex(int64_t position) {
    return static_cast<long long>(position);
}

int64_t ToPosition(uint64_t offset) {
    constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / 2);
    return static_cast<int64_t>(offset > kMax ? kMax : offset);
}

class VabToDlsConversion {
  public:
    VabToDlsConversion(ChunkFile& vh, ChunkFile& vb, ChunkFile& out, int64_t vhBase, int64_t vbBase,
                       RecognitionRules rules, BankWriterState& state)
        : vh_(vh), vb_(vb), out_(out), vhBase_(vhBase), vbBase_(vbBase), rules_(rules),
          state_(state) {}

    SampleLocation location() const { return location_; }

    // Everything after the output was created; Done or PartlyDone leave every chunk closed.
    ConvertResult Run(const VabHeader& header, const Guid& id) {
        ChunkInfo riff;
        out_.CreateRiff(riff, FourCC("DLS "));

        ChunkInfo dlid;
        out_.CreateChunk(dlid, FourCC("dlid"));
        const auto idBytes = id.Bytes();
        out_.Write(idBytes.data(), static_cast<int64_t>(idBytes.size()));
        CloseChunk(out_, dlid, state_);

        if (header.programCount > kMaxPrograms) {
            Diagnose(state_, "VH header at 0x%08llX: program count %u above 128", Hex(vhBase_),
                     header.programCount);
            return ConvertResult::CannotConvert;
        }
        ChunkInfo colh;
        out_.CreateChunk(colh, FourCC("colh"));
        out_.WriteU32le(header.programCount);
        CloseChunk(out_, colh, state_);

        ChunkInfo vers;
        out_.CreateChunk(vers, FourCC("vers"));
        out_.WriteU32le(0x00010000);
        out_.WriteU32le(0x00000001);
        CloseChunk(out_, vers, state_);

        const ConvertResult instruments = WriteInstruments(header);
        if (instruments != ConvertResult::Done) {
            return instruments;
        }

        if (CheckVagCount(header) != VabCheck::Ok) {
            Diagnose(state_, "VH header at 0x%08llX: VAG count %u above 254", Hex(vhBase_),
                     header.vagCount);
            return ConvertResult::CannotConvert;
        }
        ChunkInfo ptbl;
        out_.CreateChunk(ptbl, FourCC("ptbl"));
        out_.WriteU32le(8);
        out_.WriteU32le(header.vagCount);
        const int64_t firstPoolEntry = out_.Tell();
        for (int i = 0; i < header.vagCount; ++i) {
            out_.WriteU32le(0);
        }
        CloseChunk(out_, ptbl, state_);

        ConvertResult result = ConvertResult::Done;
        ChunkInfo wvpl;
        out_.CreateList(wvpl, FourCC("wvpl"));
        const int64_t poolBase = out_.Tell();
        vb_.Seek(vbBase_, SeekOrigin::Begin);
        VagSizeTable sizes;
        if (header.vagCount > 0) {
            const VagSearch first = FindNextVag(vb_);
            if (LocateBySizeTable(header, first, sizes)) {
                location_ = SampleLocation::SizeTable;
            } else if (first == VagSearch::Ended) {
                Diagnose(state_, "VB at 0x%08llX: ended after 0 of %u samples", Hex(vbBase_),
                         header.vagCount);
                return ConvertResult::InputEnded;
            }
        }
        for (int i = 0; i < header.vagCount; ++i) {
            int64_t maxBlocks = kUntilEndFlag;
            if (location_ == SampleLocation::SizeTable) {
                vb_.Seek(vbBase_ + sizes.SampleOffset(i), SeekOrigin::Begin);
                maxBlocks = sizes.SampleSize(i) / static_cast<int64_t>(kAdpcmBlockSize);
            } else if (i > 0 && FindNextVag(vb_) == VagSearch::Ended) {
                Diagnose(state_, "VB at 0x%08llX: ended after %d of %u samples", Hex(vbBase_), i,
                         header.vagCount);
                result = ConvertResult::PartlyDone;
                break;
            }
            const int64_t waveOffset = out_.Tell() - poolBase;
            out_.Seek(firstPoolEntry + 4 * static_cast<int64_t>(i), SeekOrigin::Begin);
            out_.WriteU32le(static_cast<uint32_t>(waveOffset));
            out_.Seek(0, SeekOrigin::End);

            ChunkInfo wave;
            out_.CreateList(wave, FourCC("wave"));
            const ConvertResult decoded = DecodeVagWave(out_, vb_, i, state_, maxBlocks);
            if (decoded != ConvertResult::Done) {
                return decoded;
            }
            CloseChunk(out_, wave, state_);
            if (out_.WriteFailed() || state_.chunkFailed) {
                return ConvertResult::OpenFailed;
            }
        }
        CloseChunk(out_, wvpl, state_);
        WriteInfoList(out_, InfoKind::Collection, 0, state_);
        CloseChunk(out_, riff, state_);
        return result;
    }

  private:
    // Under the extended rules, the size table locates the samples when the search found
    // none inside this body (its first find, if any, lies at or past the body's end by the
    // table, so it belongs to something else), provided the table describes a body of at
    // least one block whose samples all lie inside the VB file.
    bool LocateBySizeTable(const VabHeader& header, VagSearch first, VagSizeTable& sizes) {
        if (rules_ != RecognitionRules::Extended ||
            !ReadVagSizeTable(vh_, vhBase_, header.programCount, sizes)) {
            return false;
        }
        const int64_t total = sizes.Total(header.vagCount);
        if (total < kMinBodyBySizeTable || vbBase_ + total > vb_.Size()) {
            return false;
        }
        return first == VagSearch::Ended || vb_.Tell() >= vbBase_ + total;
    }

    // The "lins" list: one "ins " per non-empty program slot, in slot order.
    ConvertResult WriteInstruments(const VabHeader& header) {
        ChunkInfo lins;
        out_.CreateList(lins, FourCC("lins"));
        int k = 0;
        int countdown = header.programCount;
        for (int slot = 0; slot < kProgramSlots && countdown > 0; ++slot) {
            ProgramRecord program;
            const long long at = Hex(vhBase_ + ProgramRecordOffset(slot));
            if (!ReadProgramRecord(vh_, vhBase_, slot, program)) {
                Diagnose(state_, "program slot %d at 0x%08llX: short read", slot, at);
                return ConvertResult::InputEnded;
            }
            if (CheckProgramRecord(program) != VabCheck::Ok) {
                Diagnose(state_, "program slot %d at 0x%08llX: %u tones above 16", slot, at,
                         program.toneCount);
                return ConvertResult::CannotConvert;
            }
            if (program.toneCount == 0) {
                continue;
            }
            ChunkInfo ins;
            out_.CreateList(ins, FourCC("ins "));
            ChunkInfo insh;
            out_.CreateChunk(insh, FourCC("insh"));
            out_.WriteU32le(program.toneCount);
            out_.WriteU32le(0x00000001); // bank value of every instrument
            out_.WriteU32le(static_cast<uint32_t>(slot));
            CloseChunk(out_, insh, state_);

            const ConvertResult regions = WriteRegionList(out_, vh_, program, k, vhBase_, state_);
            if (regions != ConvertResult::Done) {
                return regions;
            }
            WriteArticulation(out_, ArticulationLevel::Instrument, program, nullptr, state_);
            WriteInfoList(out_, InfoKind::Instrument, 0, state_);
            CloseChunk(out_, ins, state_);
            if (out_.WriteFailed() || state_.chunkFailed) {
                return ConvertResult::OpenFailed;
            }
            --countdown;
            ++k;
        }
        CloseChunk(out_, lins, state_);
        return ConvertResult::Done;
    }

    ChunkFile& vh_;
    ChunkFile& vb_;
    ChunkFile& out_;
    int64_t vhBase_;
    int64_t vbBase_;
    RecognitionRules rules_;
    BankWriterState& state_;
    SampleLocation location_ = SampleLocation::Search;
};

ConvertResult RunConversion(uint64_t vhOffset, uint64_t vbOffset, const std::string& vhPath,
                            const std::string& vbPath, const std::string& dlsPath,
                            std::string_view listTitle, Feedback& feedback,
                            const VabConvertOptions& options, BankWriterState& state,
                            SampleLocation& location) {
    ChunkFile vh;
    if (!vh.OpenRead(vhPath)) {
        Diagnose(state, "VH file cannot be opened");
        ShowNumberedMessage(feedback, MessageId::BankHeaderOpenFailed);
        return ConvertResult::OpenFailed;
    }
    const int64_t vhBase = ToPosition(vhOffset);
    ChunkFile vb;
    if (!vb.OpenRead(vbPath)) {
        Diagnose(state, "VB file cannot be opened");
        ShowNumberedMessage(feedback, MessageId::BankBodyOpenFailed);
        return ConvertResult::OpenFailed;
    }
    VabHeader header;
    if (!ReadVabHeader(vh, vhBase, header)) {
        Diagnose(state, "VH header at 0x%08llX: short read", Hex(vhBase));
        return ConvertResult::InputEnded;
    }
    if (header.toneCount > kMaxTones) {
        Diagnose(state, "VH header at 0x%08llX: tone count %u above 2048", Hex(vhBase),
                 header.toneCount);
        return ConvertResult::CannotConvert;
    }

    state.listTitle = std::string(listTitle);
    state.rules = options.rules;
    state.regionLoops.reserve(header.toneCount);

    ChunkFile out;
    if (!out.Create(dlsPath)) {
        Diagnose(state, "output file cannot be created");
        ShowNumberedMessage(feedback, MessageId::BankOutputOpenFailed);
        return ConvertResult::OpenFailed;
    }
    VabToDlsConversion conversion(vh, vb, out, vhBase, ToPosition(vbOffset), options.rules, state);
    ConvertResult result =
        conversion.Run(header, options.collectionId ? *options.collectionId : NewGuid());
    location = conversion.location();

    // A write that failed anywhere, even one that only shows when the buffer is flushed,
    // leaves no file behind and is never reported as success.
    const bool wroteAll = !out.WriteFailed() && !state.chunkFailed;
    const bool closed = out.Close();
    if (result == ConvertResult::OpenFailed || !wroteAll || !closed) {
        state.diagnostics.failure = "output file: a write failed";
        ChunkFile::Delete(dlsPath);
        ShowNumberedMessage(feedback, MessageId::BankOutputOpenFailed);
        return ConvertResult::OpenFailed;
    }
    if (result == ConvertResult::CannotConvert || result == ConvertResult::InputEnded) {
        ChunkFile::Delete(dlsPath);
    }
    return result;
}

} // namespace

VabConversion ConvertVabToDls(uint64_t vhOffset, uint64_t vbOffset, const std::string& vhPath,
                              const std::string& vbPath, const std::string& dlsPath,
                              std::string_view listTitle, Feedback& feedback,
                              const VabConvertOptions& options) {
    BankWriterState state;
    VabConversion conversion;
    conversion.result = RunConversion(vhOffset, vbOffset, vhPath, vbPath, dlsPath, listTitle,
                                      feedback, options, state, conversion.location);
    // A fault met on the way to a complete collection is not reported.
    if (conversion.result != ConvertResult::Done) {
        conversion.diagnostics = std::move(state.diagnostics);
    }
    return conversion;
}

ConvertResult ConvertVabToDls(uint64_t vhOffset, uint64_t vbOffset, const std::string& vhPath,
                              const std::string& vbPath, const std::string& dlsPath,
                              std::string_view listTitle, Feedback& feedback) {
    return ConvertVabToDls(vhOffset, vbOffset, vhPath, vbPath, dlsPath, listTitle, feedback,
                           VabConvertOptions{})
        .result;
}

} // namespace sonvex
