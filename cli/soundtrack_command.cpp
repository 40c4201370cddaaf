// SPDX-License-Identifier: GPL-3.0-or-later
// `sonvex-cli soundtrack GAME... -o DIR`: rips the game files (or converts a convert list),
// pairs every song with the bank it most likely plays with, and renders each song with its
// bank into a tagged audio file, with a playlist in track order.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "chunkfile/chunk_file.h"
#include "chunkfile/file_system.h"
#include "cli/commands.h"
#include "cli/terminal_feedback.h"
#include "convert/batch_conversion.h"
#include "formats/psf.h"
#include "gamesource/game_source.h"
#include "soundtrack/album.h"
#include "soundtrack/pairing.h"

namespace sonvex::cli {

namespace {

namespace fs = std::filesystem;

struct SoundtrackOptions {
    std::vector<std::string> inputs;
    std::string output;
    std::string format = "flac";
    std::string pairs;
    int loops = 2;
    double fade = 10.0;
    int jobs = 0; // 0: the number of cores
    bool quiet = false;
    bool classic = false;
};

std::string Normal(const std::string& path) {
    std::error_code ec;
    return fs::absolute(path, ec).lexically_normal().string();
}

bool IsConvertList(const std::vector<std::string>& inputs) {
    return inputs.size() == 1 && fs::path(inputs.front()).extension() == ".clg";
}

// The tags of the PSF at `path`, read from the file itself (not the memory image the game
// source layer shows).
std::vector<PsfTag> PsfTagsOf(const std::string& path) {
    GameSourceFileSystem* sources = ActiveGameSources();
    if (sources == nullptr || sources->KindOf(path) != SourceKind::Psf) {
        return {};
    }
    PosixFileSystem plain;
    const PsfSet set = LoadPsfSet(plain, path);
    return set.status == PsfSetStatus::Ok ? set.tags : std::vector<PsfTag>();
}

std::string TagOf(const std::vector<PsfTag>& tags, const std::string& name) {
    for (const PsfTag& tag : tags) {
        if (tag.name == name) {
            return tag.value;
        }
    }
    return {};
}

// The album's name: a PSF set's game tag or folder name, else the first input's name
// without its extension (a disc image's, a game file's or a list's).
std::string AlbumName(const std::vector<std::string>& inputs) {
    const std::string& first = inputs.front();
    GameSourceFileSystem* sources = ActiveGameSources();
    if (!IsConvertList(inputs) && sources != nullptr && sources->KindOf(first) == SourceKind::Psf) {
        const std::string game = TagOf(PsfTagsOf(first), "game");
        if (!game.empty()) {
            return game;
        }
        return fs::path(Normal(first)).parent_path().filename().string();
    }
    return fs::path(first).stem().string();
}

// The set a game file belongs to: a PSF's first library, else the file itself.
std::string SetOf(const std::string& gamePath) {
    GameSourceFileSystem* sources = ActiveGameSources();
    if (sources != nullptr && sources->KindOf(gamePath) == SourceKind::Psf) {
        const std::vector<std::string> libraries = sources->PsfLibraries(gamePath);
        if (!libraries.empty()) {
            return Normal(libraries.front());
        }
    }
    return Normal(gamePath);
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string& error) {
    return WritePairsFile(path, text, error);
}

int RunSoundtrack(const SoundtrackOptions& o) {
    TerminalFeedback feedback(stderr, o.quiet);
    AudioFormat format = AudioFormat::Flac;
    if (o.format == "wav") {
        format = AudioFormat::Wav;
    } else if (o.format == "ogg") {
        format = AudioFormat::Ogg;
    }
    const std::string album = AlbumName(o.inputs);
    const std::string filesFolder = (fs::path(o.output) / "files").string();
    auto outputs = std::make_shared<ItemOutputs>();
    const Converters converters = RecordOutputs(
        StandardConverters(o.classic ? RecognitionRules::Classic : RecognitionRules::Extended),
        outputs);

    // Rip (or convert the list) into DIR/files.
    std::string listPath;
    int status = kExitDone;
    std::error_code ec;
    fs::create_directories(o.output, ec);
    if (IsConvertList(o.inputs)) {
        if (!CheckConvertList(o.inputs.front(), feedback)) {
            return kExitFailed;
        }
        std::string folder = filesFolder;
        auto run = StartConversion(folder, o.inputs.front(), feedback, converters);
        feedback.Finish();
        if (!run || !run->ran) {
            return kExitFailed;
        }
        status = ReportConversion(*run, folder, feedback);
        listPath = o.inputs.front();
    } else {
        const RipOutcome rip =
            RipToFolder(o.inputs, filesFolder, false, o.classic, 1, converters, feedback);
        if (!rip.converted) {
            return kExitFailed;
        }
        status = rip.status;
        listPath = rip.listPath;
    }

    // Pair.
    AlbumItems items = CollectAlbumItems(listPath, *outputs, SetOf);
    for (const std::string& problem : items.problems) {
        feedback.PrintLine("error: " + problem);
        status = kExitFailed;
    }
    if (items.songs.empty()) {
        feedback.PrintLine("error: no song was made from \"" + o.inputs.front() + "\"");
        return kExitFailed;
    }
    std::vector<SongPairing> pairings = PairSongs(items.songs, items.banks);
    if (!o.pairs.empty()) {
        std::vector<PairChoice> choices;
        std::string error;
        if (!ReadPairsFile(o.pairs, choices, error)) {
            feedback.PrintLine("error: " + error);
            return kExitFailed;
        }
        std::vector<std::string> problems;
        ApplyPairChoices(o.pairs, choices, items.songs, items.banks, pairings, problems);
        for (const std::string& problem : problems) {
            feedback.PrintLine("error: " + problem);
            status = kExitFailed;
        }
    }
    // The pairing file names the files relative to the soundtrack's folder.
    std::vector<PairingSong> songNames = items.songs;
    std::vector<PairingBank> bankNames = items.banks;
    for (PairingSong& s : songNames) {
        s.output = fs::path(s.output).filename().string();
    }
    for (PairingBank& b : bankNames) {
        b.output = fs::path(b.output).filename().string();
    }
    const std::string pairsPath = (fs::path(o.output) / (album + ".pairs.tsv")).string();
    std::string error;
    if (!WritePairsFile(pairsPath, PairsText(songNames, bankNames, pairings), error)) {
        feedback.PrintLine("error: " + error);
        status = kExitFailed;
    }
    for (size_t i = 0; i < pairings.size(); ++i) {
        if (!pairings[i].tiedWith.empty() && !pairings[i].fromPairsFile) {
            feedback.PrintLine("note: " + songNames[i].output + ": " + pairings[i].reason);
        }
    }

    // Render.
    const std::vector<Track> tracks =
        PlanTracks(items, pairings, album, o.output, format, [](const PairingSong& song) {
            return TagOf(PsfTagsOf(song.place.gameFile), "title");
        });
    RenderPlan plan;
    plan.loops = o.loops;
    plan.fadeSeconds = o.fade;
    const int jobs =
        o.jobs > 0 ? o.jobs : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    const std::vector<TrackResult> results =
        RenderTracks(tracks, plan, SynthOptions{}, jobs, [&feedback](const Track& t, double done) {
            feedback.SetStatusText("rendering " + fs::path(t.output).filename().string());
            feedback.SetProgress(static_cast<int>(done * 100.0));
        });
    feedback.Finish();
    int rendered = 0;
    double seconds = 0.0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (results[i].ok) {
            ++rendered;
            seconds += results[i].seconds;
        } else {
            feedback.PrintLine("error: track " + std::to_string(tracks[i].number) + " \"" +
                               tracks[i].tags.title + "\" (" +
                               fs::path(tracks[i].song).filename().string() +
                               ") failed: " + results[i].error);
            status = kExitFailed;
        }
    }
    const std::string playlist = (fs::path(o.output) / (album + ".m3u8")).string();
    if (!WriteTextFile(playlist, PlaylistText(tracks, results), error)) {
        feedback.PrintLine("error: " + error);
        status = kExitFailed;
    }
    std::printf("%s: %d of %zu song(s) rendered, %.1f s of music; pairing in %s\n",
                playlist.c_str(), rendered, tracks.size(), seconds, pairsPath.c_str());
    return status;
}

} // namespace

void AddSoundtrackCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<SoundtrackOptions>();
    CLI::App* cmd = app.add_subcommand(
        "soundtrack", "Render every song of a game with the bank it plays with, tagged, with a "
                      "playlist");
    cmd->add_option("games", options->inputs,
                    "Disc images, PSF files, game files, or one convert list (.clg)")
        ->required();
    cmd->add_option("-o,--output", options->output,
                    "Output folder: the songs, NAME.m3u8, NAME.pairs.tsv, and the converted "
                    "files under files/")
        ->required();
    cmd->add_option("--format", options->format, "Audio format of the songs (default flac)")
        ->check(CLI::IsMember({"flac", "wav", "ogg"}));
    cmd->add_option("--pairs", options->pairs,
                    "A pairing file (sequence, bank per line) whose choices replace the "
                    "pairing's");
    cmd->add_option("--loops", options->loops,
                    "Times an endless loop is heard before the fade (default 2); counted loops "
                    "play as counted")
        ->check(CLI::Range(1, 1000));
    cmd->add_option("--fade", options->fade,
                    "Seconds of fade-out after the last pass of an endless loop (default 10)")
        ->check(CLI::Range(0.0, 600.0));
    cmd->add_option("-j,--jobs", options->jobs,
                    "Songs rendered at once (default: the number of cores)")
        ->check(CLI::Range(1, 256));
    cmd->add_flag("-q,--quiet", options->quiet, "No progress output");
    cmd->add_flag("--classic", options->classic, "Recognise and convert by the classic rules only");
    cmd->callback([&run, options] { run = [options] { return RunSoundtrack(*options); }; });
}

} // namespace sonvex::cli
