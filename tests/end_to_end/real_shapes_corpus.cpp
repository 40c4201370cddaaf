// SPDX-License-Identifier: GPL-3.0-or-later
// Scenario files and the in-memory run that summarises what a set of rules makes of them.
#include "tests/end_to_end/real_shapes_corpus.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>

#include "chunkfile/file_system.h"
#include "convlist/chunk_list_file.h"
#include "convlist/convert_list.h"
#include "platform/feedback.h"

namespace sonvex::realshapes {

namespace {

using testkit::BankParts;
using testkit::GameImage;
using testkit::MakeBank;
using testkit::PlacedItem;
using testkit::VagStart;

// Memory files that remember every path created, so that a run's outputs can be listed.
class RecordingFileSystem : public FileSystem {
  public:
    std::unique_ptr<RawFile> Open(const std::string& path, OpenMode mode) override {
        if (mode == OpenMode::CreateReadWrite) {
            created.insert(path);
        }
        return memory.Open(path, mode);
    }
    bool Remove(const std::string& path) override { return memory.Remove(path); }
    bool Rename(const std::string& from, const std::string& to) override {
        created.insert(to);
        return memory.Rename(from, to);
    }

    MemoryFileSystem memory;
    std::set<std::string> created;
};

const PlacedItem& NthOfType(const GameImage& image, uint32_t type, int nth = 0) {
    for (const PlacedItem& item : image.items()) {
        if (item.type == type && nth-- == 0) {
            return item;
        }
    }
    static const PlacedItem kNone;
    return kNone;
}

constexpr uint32_t kVh = 0x00004856; // "VH" as the list stores it
constexpr uint32_t kVb = 0x00004256; // "VB"

BankPlace JoinedBank(const GameImage& image, size_t file, int nth = 0) {
    return {file, NthOfType(image, kVh, nth).offset, file, NthOfType(image, kVb, nth).offset};
}

GameImage ClassicDisc() {
    GameImage image(77);
    image.Noise(2000).Vh(3, 2, 4).Zeros(100).Vb(4, 6).Zeros(3000).Seq(12).Noise(700);
    image.SeqSet(3, 5).Zeros(50).GpmSeq(9).Noise(300).Kcet(2).Zeros(2048);
    image.Vh(2, 2, 2).Noise(20).Vb(2, 9).Noise(900).Seq(5).Zeros(100);
    return image;
}

GameImage Alone(const BankParts& bank, bool header) {
    GameImage image;
    return header ? image.BankVh(bank) : image.BankVb(bank);
}

} // namespace

std::vector<Scenario> RealShapeScenarios() {
    std::vector<Scenario> all;
    {
        Scenario s{"classic disc", {{"DISC.BIN", ClassicDisc()}}, {}, true, {}};
        s.banks.push_back(JoinedBank(s.files[0].image, 0, 1));
        all.push_back(std::move(s));
    }
    {
        const BankParts bank = MakeBank(21, 5, VagStart::ZeroBlockStartFlags, 3, 2);
        GameImage image(11);
        image.Noise(300).Bank(bank).Noise(200).Seq(4).Noise(40);
        Scenario s{
            "joined bank, zero block and start flags", {{"JOINED.BIN", image}}, {}, true, {bank}};
        s.banks.push_back(JoinedBank(image, 0));
        all.push_back(std::move(s));
    }
    {
        const BankParts bank = MakeBank(22, 6, VagStart::ZeroBlockFlags0, 2, 3);
        GameImage image(12);
        image.Noise(100).Bank(bank).Noise(64).SeqSet(2, 3).Noise(30);
        Scenario s{"joined bank, flags 0 after the zero block",
                   {{"FLAGS0.BIN", image}},
                   {},
                   false,
                   {bank}};
        s.banks.push_back(JoinedBank(image, 0));
        all.push_back(std::move(s));
    }
    {
        const BankParts bank = MakeBank(23, 4, VagStart::NoZeroBlock, 2, 2);
        GameImage image(13);
        image.Noise(50).Bank(bank).Noise(80).Seq(3).Noise(20);
        Scenario s{"joined bank, no zero block", {{"NOZERO.BIN", image}}, {}, false, {bank}};
        s.banks.push_back(JoinedBank(image, 0));
        all.push_back(std::move(s));
    }
    {
        GameImage image(14);
        image.Noise(60).SeqReversed(5).Noise(30).SeqSetReversed(3, 3).Noise(20).Seq(4).Noise(20);
        all.push_back({"SEQp sequences and a SEQp set", {{"SEQP.BIN", image}}, {}, false, {}});
    }
    {
        const BankParts bank = MakeBank(24, 3, VagStart::ZeroBlockStartFlags, 1, 3);
        Scenario s{"separate files, body picked first, classic body",
                   {{"BANK.VB", Alone(bank, false)}, {"BANK.VH", Alone(bank, true)}},
                   {{1, 0, 0, 0}},
                   false,
                   {bank}};
        all.push_back(std::move(s));
    }
    {
        const BankParts bank = MakeBank(25, 5, VagStart::NoZeroBlock, 3, 2);
        GameImage other(15);
        other.Noise(40).Seq(3).Noise(40);
        Scenario s{
            "separate files, body picked first, no zero block",
            {{"se.vb", Alone(bank, false)}, {"OTHER.BIN", other}, {"SE.VH", Alone(bank, true)}},
            {{2, 0, 0, 0}},
            false,
            {bank}};
        all.push_back(std::move(s));
    }
    {
        const BankParts bank = MakeBank(26, 4, VagStart::ZeroBlockFlags0, 2, 2);
        Scenario s{"separate files, header first, flags 0",
                   {{"music.vh", Alone(bank, true)}, {"music.vb", Alone(bank, false)}},
                   {{0, 0, 1, 0}},
                   false,
                   {bank}};
        all.push_back(std::move(s));
    }
    {
        // A disc holding every shape at once, between noise and padding.
        const BankParts flags0 = MakeBank(27, 7, VagStart::ZeroBlockFlags0, 4, 2);
        const BankParts noZero = MakeBank(28, 3, VagStart::NoZeroBlock, 1, 3);
        const BankParts classic = MakeBank(29, 2, VagStart::ZeroBlockStartFlags, 1, 2);
        GameImage image(16);
        image.Noise(500).Bank(flags0).Noise(300);
        image.SeqReversed(8).Zeros(64).Noise(10).Bank(noZero).Noise(100);
        image.Seq(6).Noise(50).Bank(classic).Noise(77);
        image.SeqSetReversed(4, 2).Noise(90).Vh(2, 2, 2).Noise(20).Vb(2, 4).Noise(30);
        Scenario s{"mixed disc", {{"MIXED.BIN", image}}, {}, false, {flags0, noZero, classic}};
        for (int n = 0; n < 3; ++n) {
            s.banks.push_back(JoinedBank(image, 0, n));
        }
        all.push_back(std::move(s));
    }
    return all;
}

std::string HashOf(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 0x100000001B3ull;
    }
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

std::string OutputHash(const std::string& name, std::vector<uint8_t> bytes) {
    if (name.size() > 4 && name.substr(name.size() - 4) == ".dls" && bytes.size() >= 36) {
        std::fill(bytes.begin() + 20, bytes.begin() + 36, 0); // the "dlid" chunk's data
    }
    return HashOf(bytes);
}

std::string SummarizeScenario(const Scenario& scenario, const ScenarioSteps& steps) {
    RecordingFileSystem files;
    ScopedFileSystem guard(files);
    for (const CorpusFile& file : scenario.files) {
        files.memory.Put("/mem/" + file.name, file.image.bytes());
    }
    std::string summary;
    auto line = [&summary](const std::string& text) { summary += text + "\n"; };

    GroupCounters counters;
    {
        ChunkFile list;
        if (!list.Create("/mem/list.clg")) {
            return "list not created\n";
        }
        ChunkListFile listFile(list);
        (void)WriteHeader(listFile, 0, "/mem");
        for (const CorpusFile& file : scenario.files) {
            ChunkFile source;
            if (!source.OpenRead("/mem/" + file.name)) {
                return "game file not opened\n";
            }
            steps.scan(list, source, file.name, counters);
        }
        (void)PatchCount(listFile, counters.Total());
        list.Close();
    }
    line("list " + HashOf(files.memory.Contents("/mem/list.clg")) + " entries " +
         std::to_string(counters.Total()));

    NullFeedback feedback;
    const ConversionRunResult run =
        RunConversion("/mem/list.clg", "/mem/out", "list", feedback, steps.converters);
    for (const std::string& path : files.created) {
        if (path.rfind("/mem/out/", 0) != 0 || !files.memory.Exists(path)) {
            continue;
        }
        line("out " + path.substr(9) + " " + OutputHash(path, files.memory.Contents(path)));
    }
    line("run files " + std::to_string(run.filesMade) +
         (run.endedEarly ? " ended early" : " to the end"));

    int n = 0;
    for (const BankPlace& bank : scenario.banks) {
        const std::string out = "/mem/direct_" + std::to_string(n++) + ".dls";
        const ConvertResult r = steps.convertBank(bank.vhOffset, bank.vbOffset,
                                                  "/mem/" + scenario.files[bank.vhFile].name,
                                                  "/mem/" + scenario.files[bank.vbFile].name, out);
        line("bank result " + std::to_string(ToCode(r)) + " " +
             (files.memory.Exists(out) ? HashOf(files.memory.Contents(out))
                                       : std::string("no file")));
    }
    return summary;
}

} // namespace sonvex::realshapes
