// SPDX-License-Identifier: GPL-3.0-or-later
// The preview-and-convert dialog driven through its widgets on the null audio output:
// listing, the enabling rules, play, pause and resume, stop, bank changes, the loop pane,
// the end of playback, conversion to a segment file, closing, and the main dialog's
// "listen" button.
#include <QApplication>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include "bank2dls/sf2_writer.h"
#include "bank2dls/vab_converter.h"
#include "platform/messages.h"
#include "scripted_services.h"
#include "segment/segment_converter.h"
#include "testkit/adpcm_encoder.h"
#include "testkit/byte_builder.h"
#include "testkit/pcm_analysis.h"
#include "testkit/smf_builder.h"
#include "testkit/vab_builder.h"
#include "ui/icons.h"
#include "ui/main_dialog.h"
#include "ui/preview_dialog.h"
#include "ui/string_table.h"
#include "ui/tip_tool_bar.h"
#include "ui/ui_texts.h"

namespace sonvex::ui {
namespace {

using test::ScriptedServices;
using testkit::Bytes;
using testkit::TempFolder;

// The dialog's texts as it shows them.
constexpr const char* kCaption = "試聴と変換";
constexpr const char* kBankHeader = "DLSﾌｧｲﾙ";
constexpr const char* kSequenceHeader = "SMF&SGTﾌｧｲﾙ";
constexpr const char* kSizeHeader = "ｻｲｽﾞ";
constexpr const char* kReady = "ﾚﾃﾞｨ";
constexpr const char* kLoop0 = "ﾙｰﾌﾟ:000";
constexpr const char* kLoop1 = "ﾙｰﾌﾟ:001";
constexpr const char* kLoop2 = "ﾙｰﾌﾟ:002";
constexpr const char* kLoop3 = "ﾙｰﾌﾟ:003";
constexpr const char* kLoopEndless = "ﾙｰﾌﾟ: ∞";
constexpr const char* kTips[6] = {"再生", "一時停止", "停止", "戻る", "進む", "SGTへ変換"};
constexpr const char* kMadeSuffix = "作製";
// A name wider than the name column.
constexpr const char* kLongName = "ﾃﾞｨｽｸ1 オープニングテーマ_000.mid";
// Music time per second at 120 beats per minute.
constexpr double kTicksPerSecond = 1536.0;

// A song of one held note: division 768, so its ticks are music time; bank 1, program 0.
// `repeatText` is the text event that sets a segment's repeat count; with `loop` the
// whole song is marked as the loop.
Bytes Song(uint32_t microsecondsPerQuarter, uint32_t ticks, const char* repeatText = nullptr,
           bool loop = false) {
    testkit::SmfBuilder smf(768);
    smf.tempo(0, microsecondsPerQuarter).control(0, 0, 0, 0).control(0, 0, 32, 1).program(0, 0, 0);
    if (repeatText != nullptr) {
        smf.text(0, repeatText);
    }
    if (loop) {
        smf.marker(0, "Loop_Start");
    }
    smf.noteOn(0, 0, 60, 100).noteOff(ticks - 10, 0, 60);
    if (loop) {
        smf.marker(10, "Loop_End").endOfTrack(0);
    } else {
        smf.endOfTrack(10);
    }
    return smf.build();
}

// A DLS made by the bank converter from a one-program bank with a looped sine.
void WriteBank(const std::string& dlsPath) {
    TempFolder source;
    testkit::VagShape shape;
    shape.loopStartBlock = 0;
    shape.loopEndBlock = 39; // 40 blocks of 28 samples
    testkit::VabBuilder vab;
    vab.program(0, testkit::Program({testkit::Tone(1)}))
        .sample(testkit::MakeVag(testkit::SineTone(28 * 40, 28.0, 9000.0), shape));
    ASSERT_TRUE(testkit::WriteFile(source / "bank.vh", vab.BuildVh()));
    ASSERT_TRUE(testkit::WriteFile(source / "bank.vb", vab.BuildVb()));
    NullFeedback feedback;
    ASSERT_EQ(
        ConvertVabToDls(0, 0, source / "bank.vh", source / "bank.vb", dlsPath, "test", feedback),
        ConvertResult::Done);
}

PlayerOptions NullOutput() {
    PlayerOptions options;
    options.performance.output = OutputKind::Null;
    options.performance.synth.useGmSoundFont = false;
    return options;
}

bool WaitFor(const std::function<bool()>& condition, int milliseconds = 5000) {
    return QTest::qWaitFor(condition, milliseconds);
}

class PreviewDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteBank(work_ / "bank.dls");
        std::filesystem::copy_file(work_ / "bank.dls", work_ / "other.dls");
        ASSERT_TRUE(testkit::WriteFile(work_ / "long.mid", Song(500000, 768 * 16))); // 8 s
        ASSERT_TRUE(testkit::WriteFile(work_ / "short.mid", Song(250000, 768)));     // 0.25 s
        ASSERT_TRUE(
            testkit::WriteFile(work_ / "loop3.mid", Song(250000, 768, "3", true))); // 4 passes
        ASSERT_TRUE(testkit::WriteFile(work_ / "forever.mid", Song(250000, 768, "127", true)));
    }

    // odd.mid plays program 5, which no DLS of the folder holds: no bank is paired with it.
    void WriteOddSong() {
        testkit::SmfBuilder smf(768);
        smf.tempo(0, 500000)
            .program(0, 0, 5)
            .noteOn(0, 0, 60, 100)
            .noteOff(758, 0, 60)
            .endOfTrack(10);
        ASSERT_TRUE(testkit::WriteFile(work_ / "odd.mid", smf.build()));
    }

    // Builds the segment file of an SMF with bank.dls, as the convert command does.
    void MakeSegment(const std::string& smf) {
        RecordingFeedback feedback;
        SegmentJob job;
        job.workFolder = work_.path();
        job.smfName = smf;
        job.dlsName = "bank.dls";
        ASSERT_EQ(ConvertSmfToSegment(job, feedback, {}), SegmentResult::Done);
    }

    std::unique_ptr<PreviewDialog> Open(PlayerOptions options = NullOutput()) {
        auto dialog = std::make_unique<PreviewDialog>(work_.path(), std::move(options));
        dialog->show();
        EXPECT_TRUE(dialog->PlayerStarted());
        return dialog;
    }

    static int RowOf(const QTableWidget* list, const std::string& name) {
        for (int row = 0; row < list->rowCount(); ++row) {
            if (PreviewDialog::NameAt(list, row) == name) {
                return row;
            }
        }
        return -1;
    }
    static std::vector<std::string> Names(const QTableWidget* list) {
        std::vector<std::string> names;
        for (int row = 0; row < list->rowCount(); ++row) {
            names.push_back(list->item(row, 0)->text().toStdString());
        }
        return names;
    }
    // Clicks the row that shows `name`, as the user selects it.
    static void Select(QTableWidget* list, const std::string& name) {
        const int row = RowOf(list, name);
        ASSERT_GE(row, 0) << name;
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
        ASSERT_EQ(list->currentRow(), row) << name;
    }
    static QToolButton* ButtonOf(PreviewDialog& d, int id) {
        return qobject_cast<QToolButton*>(d.ToolBar()->widgetForAction(d.ToolBar()->Button(id)));
    }
    // Clicks a toolbar button; a disabled one takes no click.
    static void Click(PreviewDialog& d, int id) {
        QTest::mouseClick(ButtonOf(d, id), Qt::LeftButton);
    }
    static bool Enabled(PreviewDialog& d, int id) { return d.ToolBar()->Button(id)->isEnabled(); }
    static std::string Loop(PreviewDialog& d) { return d.LoopPane()->text().toStdString(); }

    // The toolbar of the idle state: play image 0 released, pause image 1 released and
    // disabled, stop disabled, the loop pane at rest.
    static void ExpectIdle(PreviewDialog& d) {
        EXPECT_FALSE(d.Player().IsPlaying());
        EXPECT_FALSE(d.Player().IsPaused());
        EXPECT_EQ(d.ButtonImage(kCommandPlay), 0);
        EXPECT_FALSE(d.ButtonPressed(kCommandPlay));
        EXPECT_FALSE(ButtonOf(d, kCommandPlay)->isChecked());
        EXPECT_EQ(d.ButtonImage(kCommandPause), 1);
        EXPECT_FALSE(d.ButtonPressed(kCommandPause));
        EXPECT_FALSE(Enabled(d, kCommandPause));
        EXPECT_FALSE(Enabled(d, kCommandStop));
        EXPECT_EQ(Loop(d), kLoop0);
    }
    static void ExpectPlaying(PreviewDialog& d) {
        EXPECT_TRUE(d.Player().IsPlaying());
        EXPECT_FALSE(d.Player().IsPaused());
        EXPECT_EQ(d.ButtonImage(kCommandPlay), 5);
        EXPECT_TRUE(d.ButtonPressed(kCommandPlay));
        EXPECT_TRUE(ButtonOf(d, kCommandPlay)->isChecked());
        EXPECT_EQ(d.ButtonImage(kCommandPause), 1);
        EXPECT_FALSE(ButtonOf(d, kCommandPause)->isChecked());
        EXPECT_TRUE(Enabled(d, kCommandPause));
        EXPECT_TRUE(Enabled(d, kCommandStop));
        EXPECT_FALSE(Enabled(d, kCommandConvert));
    }
    static int32_t Position(PreviewDialog& d) {
        int32_t position = -1;
        EXPECT_TRUE(d.Player().CurrentPosition(position));
        return position;
    }

    TempFolder work_;
    ScriptedServices services_;
    ScopedDialogServices guard_{services_};
};

TEST_F(PreviewDialogTest, ListsTheFolderSortedWithSizesIconsAndTheToolbar) {
    MakeSegment("long.mid");
    ASSERT_TRUE(testkit::WriteFile(work_ / "UPPER.MID", Song(500000, 768)));
    ASSERT_TRUE(testkit::WriteFile(work_ / kLongName, Song(500000, 768)));
    ASSERT_TRUE(testkit::WriteFile(work_ / "Tune.Sgt", Bytes(5, 0)));
    ASSERT_TRUE(testkit::WriteFile(work_ / "endsinmid", Bytes(3, 0)));
    ASSERT_TRUE(testkit::WriteFile(work_ / "notes.txt", Bytes(3, 0)));
    ASSERT_TRUE(testkit::WriteFile(work_ / "dls", Bytes(3, 0))); // the name is the extension alone
    std::filesystem::create_directory(work_ / "folder.dls");
    auto d = Open();

    EXPECT_EQ(d->windowTitle().toStdString(), kCaption);
    EXPECT_EQ(Names(d->BankList()),
              (std::vector<std::string>{"bank.dls", "dls", "folder.dls", "other.dls"}));
    EXPECT_EQ(
        Names(d->SequenceList()),
        (std::vector<std::string>{"endsinmid", "forever.mid", "long.mid", "long.sgt", "loop3.mid",
                                  "short.mid", "Tune.Sgt", "UPPER.MID", kLongName}));
    // Sizes in bytes followed by B, right-aligned; a folder counts nothing.
    const auto sizeOf = [](QTableWidget* list, int row) {
        return list->item(row, 1)->text().toStdString();
    };
    const auto fileSize = [&](const char* name) {
        return std::to_string(std::filesystem::file_size(work_ / name)) + "B";
    };
    EXPECT_EQ(sizeOf(d->SequenceList(), RowOf(d->SequenceList(), "long.sgt")),
              fileSize("long.sgt"));
    EXPECT_EQ(sizeOf(d->SequenceList(), RowOf(d->SequenceList(), "Tune.Sgt")), "5B");
    EXPECT_EQ(sizeOf(d->BankList(), RowOf(d->BankList(), "bank.dls")), fileSize("bank.dls"));
    EXPECT_EQ(sizeOf(d->BankList(), RowOf(d->BankList(), "folder.dls")), "0B");
    EXPECT_TRUE(d->SequenceList()->item(0, 1)->textAlignment() & Qt::AlignRight);
    // Three icons that tell SMF, segment and DLS rows apart.
    const auto image = [](QTableWidget* list, int row) {
        return list->item(row, 0)->icon().pixmap(16).toImage();
    };
    const QImage smf = image(d->SequenceList(), RowOf(d->SequenceList(), "long.mid"));
    const QImage segment = image(d->SequenceList(), RowOf(d->SequenceList(), "long.sgt"));
    const QImage dls = image(d->BankList(), 0);
    EXPECT_FALSE(smf.isNull());
    EXPECT_NE(smf, segment);
    EXPECT_NE(smf, dls);
    EXPECT_NE(segment, dls);
    EXPECT_EQ(image(d->SequenceList(), RowOf(d->SequenceList(), "UPPER.MID")), smf);
    EXPECT_EQ(image(d->SequenceList(), RowOf(d->SequenceList(), "Tune.Sgt")), segment);
    EXPECT_EQ(d->BankList()->horizontalHeaderItem(0)->text().toStdString(), kBankHeader);
    EXPECT_EQ(d->SequenceList()->horizontalHeaderItem(0)->text().toStdString(), kSequenceHeader);
    EXPECT_EQ(d->SequenceList()->horizontalHeaderItem(1)->text().toStdString(), kSizeHeader);
    EXPECT_EQ(d->BankList()->columnWidth(0), 126);
    EXPECT_EQ(d->SequenceList()->columnWidth(1), 70);
    // The name column widens for a name that would not fit.
    const int nameWidth =
        d->SequenceList()->fontMetrics().horizontalAdvance(QString::fromUtf8(kLongName));
    EXPECT_GT(d->SequenceList()->columnWidth(0), std::max(126, nameWidth + 16));
    EXPECT_LT(d->BankList()->geometry().right(), d->SequenceList()->geometry().left());

    // Toolbar: five buttons, gaps of 119 and 3 pixels, the convert button; all disabled,
    // each with its tooltip.
    const QList<QAction*> actions = d->ToolBar()->actions();
    ASSERT_EQ(actions.size(), 8);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(actions[i], d->ToolBar()->Button(kCommandPlay + i));
    }
    EXPECT_EQ(d->ToolBar()->widgetForAction(actions[5])->width(), 119);
    EXPECT_EQ(d->ToolBar()->widgetForAction(actions[6])->width(), 3);
    EXPECT_EQ(actions[7], d->ToolBar()->Button(kCommandConvert));
    for (int id = kCommandPlay; id <= kCommandConvert; ++id) {
        EXPECT_FALSE(Enabled(*d, id)) << id;
        EXPECT_EQ(d->ToolBar()->Button(id)->toolTip().toStdString(), kTips[id - kCommandPlay]);
    }
    EXPECT_EQ(d->ButtonImage(kCommandConvert), 9);
    EXPECT_EQ(d->StatusPane()->text().toStdString(), kReady);
    EXPECT_EQ(Loop(*d), kLoop0);
    EXPECT_EQ(QFontInfo(d->LoopPane()->font()).pixelSize(), 12);
    EXPECT_GE(d->LoopPane()->contentsRect().width(),
              d->LoopPane()->fontMetrics().horizontalAdvance(QString::fromUtf8(kLoopEndless)));
    EXPECT_GT(d->StatusPane()->width(), d->LoopPane()->width());
}

TEST_F(PreviewDialogTest, EmptyOrMissingFolderListsNothing) {
    for (const std::string& folder : {std::string(), work_ / "missing"}) {
        PreviewDialog d(folder, NullOutput());
        d.show();
        EXPECT_EQ(d.BankList()->rowCount(), 0);
        EXPECT_EQ(d.SequenceList()->rowCount(), 0);
        for (int id = kCommandPlay; id <= kCommandConvert; ++id) {
            EXPECT_FALSE(Enabled(d, id));
        }
    }
}

TEST_F(PreviewDialogTest, SelectionRulesInEveryOrder) {
    MakeSegment("long.mid");
    WriteOddSong();
    ASSERT_TRUE(testkit::WriteFile(work_ / "LOUD.MID", Song(500000, 768)));
    ASSERT_TRUE(testkit::WriteFile(work_ / "endsinmid", Song(500000, 768)));
    const auto expect = [](PreviewDialog& d, bool play, bool convert, const char* step) {
        EXPECT_EQ(Enabled(d, kCommandPlay), play) << step;
        EXPECT_EQ(Enabled(d, kCommandConvert), convert) << step;
        EXPECT_FALSE(Enabled(d, kCommandBack)) << step;
        EXPECT_FALSE(Enabled(d, kCommandForward)) << step;
        EXPECT_FALSE(Enabled(d, kCommandPause)) << step;
        EXPECT_FALSE(Enabled(d, kCommandStop)) << step;
    };
    {
        // An SMF that no DLS plays enables nothing; the DLS then enables play and convert; a
        // segment file keeps play and disables convert; a name ending in "mid" without a
        // dot changes nothing; an upper-case ".MID" counts as an SMF.
        auto d = Open();
        Select(d->SequenceList(), "odd.mid");
        expect(*d, false, false, "SMF first");
        EXPECT_EQ(d->PairedBankRow(), -1);
        Select(d->BankList(), "bank.dls");
        expect(*d, true, true, "then DLS");
        Select(d->SequenceList(), "long.sgt");
        expect(*d, true, false, "then segment");
        Select(d->SequenceList(), "endsinmid");
        expect(*d, true, false, "then a name ending in mid");
        Select(d->SequenceList(), "LOUD.MID");
        expect(*d, true, true, "then upper case");
        EXPECT_EQ(d->SelectedSequenceRow(), RowOf(d->SequenceList(), "LOUD.MID"));
    }
    {
        // DLS first enables nothing; the SMF then enables both.
        auto d = Open();
        Select(d->BankList(), "other.dls");
        expect(*d, false, false, "DLS first");
        Select(d->SequenceList(), "short.mid");
        expect(*d, true, true, "then SMF");
        EXPECT_EQ(d->Player().SelectedBank(), "other.dls");
        EXPECT_EQ(d->Player().SelectedSequence(), "short.mid");
    }
    {
        // A segment file alone enables play; a DLS afterwards changes nothing.
        auto d = Open();
        Select(d->SequenceList(), "long.sgt");
        expect(*d, true, false, "segment alone");
        Select(d->BankList(), "bank.dls");
        expect(*d, true, false, "segment, then DLS");
    }
    {
        // With a DLS, a name that ends in "mid" without a dot still enables nothing.
        auto d = Open();
        Select(d->BankList(), "bank.dls");
        Select(d->SequenceList(), "endsinmid");
        expect(*d, false, false, "DLS, then a name ending in mid");
    }
}

TEST_F(PreviewDialogTest, PairedBankIsMarkedAndSelectedUntilTheUserChoosesOne) {
    auto d = Open();
    const auto bold = [&d](const char* name) {
        return d->BankList()->item(RowOf(d->BankList(), name), 0)->font().bold();
    };
    // Both banks hold the song's program; other.dls lies next to short.mid by name.
    Select(d->SequenceList(), "short.mid");
    EXPECT_EQ(d->PairedBankRow(), RowOf(d->BankList(), "other.dls"));
    EXPECT_TRUE(bold("other.dls"));
    EXPECT_FALSE(bold("bank.dls"));
    EXPECT_EQ(d->BankList()->currentRow(), RowOf(d->BankList(), "other.dls"));
    EXPECT_EQ(d->Player().SelectedBank(), "other.dls");
    EXPECT_TRUE(Enabled(*d, kCommandPlay));
    // An equal pair of banks: the one listed first.
    Select(d->SequenceList(), "long.mid");
    EXPECT_EQ(d->PairedBankRow(), RowOf(d->BankList(), "bank.dls"));
    EXPECT_TRUE(bold("bank.dls"));
    EXPECT_FALSE(bold("other.dls"));
    EXPECT_EQ(d->Player().SelectedBank(), "bank.dls");
    // Once the user has chosen a bank, the mark moves with the song but the choice stays.
    Select(d->BankList(), "bank.dls");
    Select(d->SequenceList(), "short.mid");
    EXPECT_TRUE(bold("other.dls"));
    EXPECT_EQ(d->Player().SelectedBank(), "bank.dls");
    EXPECT_EQ(d->BankList()->currentRow(), RowOf(d->BankList(), "bank.dls"));
}

TEST_F(PreviewDialogTest, PairingFileOfTheSoundtrackOverridesThePairing) {
    const std::string pairs = "short.mid\tbank.dls\t0\tmine\n";
    ASSERT_TRUE(testkit::WriteFile(work_ / "GAME.pairs.tsv", Bytes(pairs.begin(), pairs.end())));
    auto d = Open();
    Select(d->SequenceList(), "short.mid");
    EXPECT_EQ(d->PairedBankRow(), RowOf(d->BankList(), "bank.dls"));
    EXPECT_EQ(d->Player().SelectedBank(), "bank.dls");
}

TEST_F(PreviewDialogTest, PlayWithoutDlsShowsMessage37AndASegmentPlaysWithoutOne) {
    MakeSegment("long.mid");
    WriteOddSong();
    auto d = Open();
    // The segment file enables play; the SMF selected next keeps it enabled without a DLS.
    Select(d->SequenceList(), "long.sgt");
    Select(d->SequenceList(), "odd.mid");
    ASSERT_TRUE(Enabled(*d, kCommandPlay));
    Click(*d, kCommandPlay);
    EXPECT_EQ(services_.MessageTexts(),
              std::vector<std::string>{Message(MessageId::PlayDlsInvalid).text});
    EXPECT_EQ(services_.messages.front().icon, MessageIcon::Stop);
    EXPECT_EQ(d->Player().LoadedSegment(), nullptr);
    ExpectIdle(*d);

    // The segment file plays with the collection its band names.
    Select(d->SequenceList(), "long.sgt");
    Click(*d, kCommandPlay);
    EXPECT_EQ(services_.messages.size(), 1u);
    ExpectPlaying(*d);
    EXPECT_EQ(d->Player().ConnectedCollection(), nullptr);
    ASSERT_EQ(d->Player().LoadedSegment()->BandCollections().size(), 1u);
    EXPECT_NE(d->Player().LoadedSegment()->BandCollections()[0], nullptr);
    // A DLS chosen while a segment file plays changes nothing; play again does nothing.
    const SegmentState* state = d->Player().CurrentState();
    Select(d->BankList(), "other.dls");
    Click(*d, kCommandPlay);
    EXPECT_EQ(d->Player().CurrentState(), state);
    ExpectPlaying(*d);
    Click(*d, kCommandStop);
    ExpectIdle(*d);
    EXPECT_FALSE(Enabled(*d, kCommandConvert));      // a segment file is not converted
    EXPECT_NE(d->Player().LoadedSegment(), nullptr); // stays loaded after a stop
}

TEST_F(PreviewDialogTest, MusicNoInstrumentPlaysIsRefusedWithTheReasonInTheStatusBar) {
    // The song asks for program 5 of bank 1; the collection holds only program 0.
    testkit::SmfBuilder smf(768);
    smf.control(0, 2, 0, 0).control(0, 2, 32, 1).program(0, 2, 5);
    smf.noteOn(0, 2, 60, 100).noteOff(700, 2, 60).endOfTrack(10);
    ASSERT_TRUE(testkit::WriteFile(work_ / "elsewhere.mid", smf.build()));
    auto d = Open();
    Select(d->BankList(), "bank.dls");
    Select(d->SequenceList(), "elsewhere.mid");
    Click(*d, kCommandPlay);
    EXPECT_EQ(d->Player().LoadedSegment(), nullptr);
    ExpectIdle(*d);
    const std::string status = d->findChild<QLabel*>("statusPane")->text().toStdString();
    EXPECT_NE(status.find("channel 3 (bank 1, program 5)"), std::string::npos) << status;
    EXPECT_TRUE(services_.messages.empty());

    // The same song on program 0 plays.
    Select(d->SequenceList(), "long.mid");
    Click(*d, kCommandPlay);
    ExpectPlaying(*d);
}

TEST_F(PreviewDialogTest, ASoundFontIsListedWithTheBanksAndPlaysButConvertsOnlyWithADls) {
    std::string error;
    ASSERT_TRUE(ConvertDlsToSf2(work_ / "bank.dls", work_ / "bank.sf2", error)) << error;
    std::filesystem::copy_file(work_ / "bank.sf2", work_ / "UPPER.SF2");
    auto d = Open();
    EXPECT_EQ(Names(d->BankList()),
              (std::vector<std::string>{"bank.dls", "bank.sf2", "other.dls", "UPPER.SF2"}));
    const auto icon = [&](const char* name) {
        return d->BankList()->item(RowOf(d->BankList(), name), 0)->icon().pixmap(16).toImage();
    };
    EXPECT_EQ(icon("bank.sf2"), icon("bank.dls"));

    // An SMF with the SoundFont plays; a segment needs a DLS, and the status pane says so.
    Select(d->SequenceList(), "long.mid");
    Select(d->BankList(), "bank.sf2");
    EXPECT_TRUE(Enabled(*d, kCommandPlay));
    EXPECT_FALSE(Enabled(*d, kCommandConvert));
    EXPECT_EQ(d->StatusPane()->text().toStdString(), kSegmentNeedsDlsText);
    d->ConvertToSegment();
    EXPECT_FALSE(std::filesystem::exists(work_ / "long.sgt"));
    EXPECT_TRUE(services_.messages.empty());

    Click(*d, kCommandPlay);
    ExpectPlaying(*d);
    ASSERT_NE(d->Player().ConnectedCollection(), nullptr);
    EXPECT_TRUE(d->Player().ConnectedCollection()->IsSoundFont());
    // The held note sounds from the SoundFont on the null output.
    EXPECT_TRUE(WaitFor([&] { return d->Player().GetPerformance()->ActiveVoices() > 0; }));
    QTest::qWait(300);
    EXPECT_GT(Position(*d), 0.1 * kTicksPerSecond);

    // Changing to the DLS while playing goes on from there; stopped, it converts again.
    Select(d->BankList(), "bank.dls");
    ExpectPlaying(*d);
    EXPECT_FALSE(d->Player().ConnectedCollection()->IsSoundFont());
    Click(*d, kCommandStop);
    ExpectIdle(*d);
    EXPECT_TRUE(Enabled(*d, kCommandConvert));
    EXPECT_EQ(d->StatusPane()->text().toStdString(), kReady);

    // Back to the SoundFont and stopped after playing: convert stays off.
    Select(d->BankList(), "UPPER.SF2");
    Click(*d, kCommandPlay);
    ExpectPlaying(*d);
    Click(*d, kCommandStop);
    EXPECT_FALSE(Enabled(*d, kCommandConvert));
    EXPECT_EQ(d->StatusPane()->text().toStdString(), kSegmentNeedsDlsText);
    EXPECT_TRUE(services_.messages.empty());
}

TEST_F(PreviewDialogTest, PauseResumesWherePlaybackWasAndStopThenPlayStartsOver) {
    auto d = Open();
    Select(d->BankList(), "bank.dls");
    Select(d->SequenceList(), "long.mid");
    Click(*d, kCommandPlay);
    ExpectPlaying(*d);
    EXPECT_EQ(Loop(*d), kLoop0); // an SMF plays once
    QTest::qWait(400);
    const int32_t reached = Position(*d);
    Click(*d, kCommandPause);
    EXPECT_TRUE(d->Player().IsPaused());
    EXPECT_TRUE(d->Player().IsPlaying());
    EXPECT_EQ(d->ButtonImage(kCommandPause), 6);
    EXPECT_TRUE(ButtonOf(*d, kCommandPause)->isChecked());
    EXPECT_EQ(d->ButtonImage(kCommandPlay), 5);
    const int32_t paused = d->Player().PlayPosition();
    EXPECT_GE(paused, reached);
    EXPECT_LT(paused, reached + 0.2 * kTicksPerSecond);
    EXPECT_NEAR(paused, 0.4 * kTicksPerSecond, 0.3 * kTicksPerSecond);
    EXPECT_FALSE(d->Player().GetPerformance()->IsPlaying(nullptr, nullptr));

    // Time spent paused does not count.
    QTest::qWait(300);
    Click(*d, kCommandPause);
    ExpectPlaying(*d);
    ASSERT_NE(d->Player().CurrentState(), nullptr);
    EXPECT_EQ(d->Player().CurrentState()->GetStartPoint(), paused);
    QTest::qWait(200);
    const int32_t resumed = Position(*d);
    EXPECT_GE(resumed, paused + 0.1 * kTicksPerSecond);
    EXPECT_LT(resumed, paused + 0.5 * kTicksPerSecond);

    // Pause, stop, play: from the beginning.
    Click(*d, kCommandPause);
    Click(*d, kCommandStop);
    ExpectIdle(*d);
    EXPECT_TRUE(Enabled(*d, kCommandConvert));
    EXPECT_EQ(d->Player().PlayPosition(), 0);
    Click(*d, kCommandPlay);
    ExpectPlaying(*d);
    EXPECT_EQ(d->Player().CurrentState()->GetStartPoint(), 0);
    EXPECT_LT(Position(*d), 0.2 * kTicksPerSecond);
}

TEST_F(PreviewDialogTest, BankChangeContinuesFromThePositionReached) {
    auto d = Open();
    Select(d->BankList(), "bank.dls");
    Select(d->SequenceList(), "long.mid");
    Click(*d, kCommandPlay);
    QTest::qWait(400);
    const int32_t reached = Position(*d);
    Select(d->BankList(), "other.dls");
    ExpectPlaying(*d);
    ASSERT_NE(d->Player().ConnectedCollection(), nullptr);
    EXPECT_EQ(std::filesystem::path(d->Player().ConnectedCollection()->Path()).filename(),
              "other.dls");
    const int32_t start = d->Player().CurrentState()->GetStartPoint();
    EXPECT_GE(start, reached);
    EXPECT_LT(start, reached + 0.2 * kTicksPerSecond);

    // While paused: the new bank plays on from where the pause left it.
    QTest::qWait(200);
    Click(*d, kCommandPause);
    const int32_t paused = d->Player().PlayPosition();
    EXPECT_GT(paused, start);
    Select(d->BankList(), "bank.dls");
    ExpectPlaying(*d);
    EXPECT_EQ(d->Player().CurrentState()->GetStartPoint(), paused);
    EXPECT_EQ(std::filesystem::path(d->Player().ConnectedCollection()->Path()).filename(),
              "bank.dls");
    EXPECT_TRUE(services_.messages.empty());
}

TEST_F(PreviewDialogTest, ASequenceChosenWhilePausedPlaysFromItsStart) {
    auto d = Open();
    Select(d->BankList(), "bank.dls");
    Select(d->SequenceList(), "long.mid");
    Click(*d, kCommandPlay);
    QTest::qWait(300);
    Click(*d, kCommandPause);
    ASSERT_GT(d->Player().PlayPosition(), 0);
    // The pause button comes up again and the new sequence starts at its beginning.
    Select(d->SequenceList(), "short.mid");
    ExpectPlaying(*d);
    EXPECT_EQ(d->Player().CurrentState()->GetStartPoint(), 0);
    EXPECT_EQ(d->Player().PlayPosition(), 0);
    EXPECT_TRUE(services_.messages.empty());
}

TEST_F(PreviewDialogTest, LoopPaneCountsDownAndTheEndReturnsToIdle) {
    MakeSegment("loop3.mid");
    MakeSegment("forever.mid");
    auto d = Open();
    Select(d->SequenceList(), "loop3.sgt");
    Click(*d, kCommandPlay);
    ExpectPlaying(*d);
    // Three repeats of a quarter second each: every loop notification counts one down,
    // and the end of the segment returns the toolbar to idle.
    std::vector<std::string> seen{Loop(*d)};
    ASSERT_TRUE(WaitFor([&] {
        if (Loop(*d) != seen.back()) {
            seen.push_back(Loop(*d));
        }
        return !d->Player().IsPlaying();
    }));
    EXPECT_EQ(seen, (std::vector<std::string>{kLoop3, kLoop2, kLoop1, kLoop0}));
    ExpectIdle(*d);
    EXPECT_FALSE(Enabled(*d, kCommandConvert));
    EXPECT_TRUE(Enabled(*d, kCommandPlay));

    // A pause after the first loop resumes with the two loops that were left.
    Click(*d, kCommandPlay);
    ASSERT_TRUE(WaitFor([&] { return Loop(*d) == kLoop2; }));
    Click(*d, kCommandPause);
    EXPECT_EQ(Loop(*d), kLoop2);
    Click(*d, kCommandPause);
    EXPECT_EQ(d->Player().CurrentState()->GetRepeats(), 2u);
    seen = {Loop(*d)};
    ASSERT_TRUE(WaitFor([&] {
        if (Loop(*d) != seen.back()) {
            seen.push_back(Loop(*d));
        }
        return !d->Player().IsPlaying();
    }));
    EXPECT_EQ(seen, (std::vector<std::string>{kLoop2, kLoop1, kLoop0}));

    // Without end: "∞", and loops do not count.
    Select(d->SequenceList(), "forever.sgt");
    Click(*d, kCommandPlay);
    EXPECT_EQ(Loop(*d), kLoopEndless);
    EXPECT_EQ(d->Player().LoopsLeft(), -1);
    ASSERT_TRUE(WaitFor([&] {
        int32_t position = 0;
        uint32_t loops = 0;
        return d->Player().GetPerformance()->GetSegmentPosition(*d->Player().CurrentState(),
                                                                position, loops) &&
               loops >= 2;
    }));
    QTest::qWait(50);
    EXPECT_EQ(Loop(*d), kLoopEndless);
    Click(*d, kCommandStop);
    ExpectIdle(*d);
}

TEST_F(PreviewDialogTest, NotificationsThatArriveTogetherAreAllTaken) {
    auto d = Open();
    Select(d->BankList(), "bank.dls");
    Select(d->SequenceList(), "short.mid");
    Click(*d, kCommandPlay);
    // The start and the end are both waiting by the time the dialog looks: one look
    // takes both, and the end returns to idle.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ASSERT_TRUE(d->Player().IsPlaying());
    d->Player().OnNotification();
    ExpectIdle(*d);
    EXPECT_TRUE(Enabled(*d, kCommandConvert));
}

TEST_F(PreviewDialogTest, ALoadFailureWhilePlayingLeavesThePlayerIdle) {
    ASSERT_TRUE(testkit::WriteFile(work_ / "broken.mid", Bytes{'M', 'T', 'h', 'd', 0, 0}));
    ASSERT_TRUE(testkit::WriteFile(work_ / "broken.dls", Bytes{'R', 'I', 'F', 'F'}));
    auto d = Open();
    Select(d->BankList(), "bank.dls");
    Select(d->SequenceList(), "long.mid");
    Click(*d, kCommandPlay);
    ExpectPlaying(*d);
    // Another sequence that cannot be read: its message, and the toolbar says idle.
    Select(d->SequenceList(), "broken.mid");
    EXPECT_EQ(services_.MessageTexts(),
              std::vector<std::string>{Message(MessageId::PlaySmfInvalid).text});
    EXPECT_EQ(d->Player().LoadedSegment(), nullptr);
    ExpectIdle(*d);
    // A bank that cannot be read while an SMF plays: the same.
    Select(d->SequenceList(), "long.mid");
    Click(*d, kCommandPlay);
    ExpectPlaying(*d);
    Select(d->BankList(), "broken.dls");
    EXPECT_EQ(services_.MessageTexts(),
              (std::vector<std::string>{Message(MessageId::PlaySmfInvalid).text,
                                        Message(MessageId::PlayingBankDlsInvalid).text}));
    ExpectIdle(*d);
    // And while paused.
    Select(d->BankList(), "bank.dls");
    Click(*d, kCommandPlay);
    Click(*d, kCommandPause);
    Select(d->BankList(), "broken.dls");
    EXPECT_EQ(services_.MessageTexts().back(), Message(MessageId::PausedBankDlsInvalid).text);
    ExpectIdle(*d);
    // The work folder gone: the path message.
    Select(d->BankList(), "bank.dls");
    const std::string moved = work_.path() + ".moved";
    std::filesystem::rename(work_.path(), moved);
    Click(*d, kCommandPlay);
    std::filesystem::rename(moved, work_.path());
    EXPECT_EQ(services_.MessageTexts().back(), Message(MessageId::PlayPathInvalid).text);
    EXPECT_EQ(services_.messages.size(), 4u);
    ExpectIdle(*d);
}

TEST_F(PreviewDialogTest, ConvertingTwiceReplacesTheSegmentRow) {
    auto d = Open();
    Select(d->BankList(), "bank.dls");
    Select(d->SequenceList(), "long.mid");
    ASSERT_TRUE(Enabled(*d, kCommandConvert));
    for (int pass = 0; pass < 2; ++pass) {
        Click(*d, kCommandConvert);
        EXPECT_TRUE(services_.messages.empty());
        EXPECT_EQ(Names(d->SequenceList()),
                  (std::vector<std::string>{"forever.mid", "long.mid", "long.sgt", "loop3.mid",
                                            "short.mid"}))
            << pass;
        const int row = RowOf(d->SequenceList(), "long.sgt");
        EXPECT_EQ(row, RowOf(d->SequenceList(), "long.mid") + 1);
        EXPECT_EQ(d->SequenceList()->item(row, 1)->text().toStdString(),
                  std::to_string(std::filesystem::file_size(work_ / "long.sgt")) + "B");
        const QImage icon = d->SequenceList()->item(row, 0)->icon().pixmap(16).toImage();
        EXPECT_EQ(icon, PreviewFileIcon(FileIcon::Segment).pixmap(16).toImage());
        EXPECT_EQ(d->StatusPane()->text().toStdString(), std::string("long.sgt") + kMadeSuffix);
        EXPECT_EQ(d->SequenceList()->currentRow(), RowOf(d->SequenceList(), "long.mid"));
    }
    // The new segment file plays.
    Select(d->SequenceList(), "long.sgt");
    Click(*d, kCommandPlay);
    ExpectPlaying(*d);
}

// Only a segment row directly below the SMF row is replaced; a conversion that fails
// leaves the list and the status pane as they were.
TEST_F(PreviewDialogTest, ASegmentRowNotDirectlyBelowStaysAndAFailureChangesNothing) {
    ASSERT_TRUE(testkit::WriteFile(work_ / "long.mid2.mid", Song(500000, 768)));
    ASSERT_TRUE(testkit::WriteFile(work_ / "bad.mid",
                                   Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 1, 0}));
    auto d = Open();
    Select(d->BankList(), "bank.dls");
    Select(d->SequenceList(), "long.mid");
    Click(*d, kCommandConvert);
    Click(*d, kCommandConvert);
    const std::vector<std::string> rows{"bad.mid",  "forever.mid", "long.mid",  "long.mid2.mid",
                                        "long.sgt", "long.sgt",    "loop3.mid", "short.mid"};
    EXPECT_EQ(Names(d->SequenceList()), rows);
    Select(d->SequenceList(), "bad.mid");
    Click(*d, kCommandConvert);
    EXPECT_EQ(services_.MessageTexts(),
              std::vector<std::string>{Message(MessageId::SegmentNotMade).text});
    EXPECT_EQ(Names(d->SequenceList()), rows);
    EXPECT_EQ(d->StatusPane()->text().toStdString(), std::string("long.sgt") + kMadeSuffix);
    EXPECT_FALSE(std::filesystem::exists(work_ / "bad.sgt"));
}

TEST_F(PreviewDialogTest, ClosingWhilePlayingSilencesAndEndsTheThread) {
    for (const int way : {int(Qt::Key_Escape), int(Qt::Key_Return), 0}) {
        auto d = Open();
        Select(d->BankList(), "bank.dls");
        Select(d->SequenceList(), "long.mid");
        Click(*d, kCommandPlay);
        ASSERT_TRUE(d->Player().NotifierRunning());
        ASSERT_TRUE(WaitFor([&] { return d->Player().GetPerformance()->ActiveVoices() > 0; }));
        if (way == 0) {
            d->close();
        } else {
            // The keys reach the dialog from the list that has the focus.
            QTest::keyClick(d->SequenceList(), static_cast<Qt::Key>(way));
        }
        EXPECT_FALSE(d->isVisible()) << way;
        EXPECT_EQ(d->result(), way == Qt::Key_Return ? QDialog::Accepted : QDialog::Rejected)
            << way;
        EXPECT_EQ(d->Player().GetPerformance(), nullptr);
        EXPECT_EQ(d->Player().LoadedSegment(), nullptr);
        EXPECT_FALSE(d->Player().NotifierRunning());
        // A wake-up that arrives after the shut-down finds nothing to do.
        QCoreApplication::postEvent(d.get(), new QEvent(kPlaybackNotifyEvent));
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(services_.messages.empty());
}

// Without a sound device the dialog stays: it lists, converts and says why nothing plays.
TEST_F(PreviewDialogTest, WithoutASoundDeviceTheDialogListsAndConvertsButCannotPlay) {
    std::vector<PlayerOptions> ways{test::WithoutSoundDevice()};
    // The program's own choice, a sound device, where the machine has none.
    std::string error;
    if (!OpenAudioOutput(
            OutputKind::Auto, 44100.0, [](float*, float*, int) {}, &error)) {
        ways.push_back(PlayerOptions{});
    }
    for (const PlayerOptions& options : ways) {
        PreviewDialog d(work_.path(), options);
        d.show();
        EXPECT_FALSE(d.PlayerStarted());
        EXPECT_EQ(d.StatusPane()->text().toStdString(), kNoSoundDeviceText);
        EXPECT_EQ(Names(d.BankList()), (std::vector<std::string>{"bank.dls", "other.dls"}));
        EXPECT_EQ(Names(d.SequenceList()),
                  (std::vector<std::string>{"forever.mid", "long.mid", "loop3.mid", "short.mid"}));

        // An SMF with a DLS enables the conversion only; a click on play does nothing.
        Select(d.BankList(), "bank.dls");
        Select(d.SequenceList(), "short.mid");
        EXPECT_TRUE(Enabled(d, kCommandConvert));
        EXPECT_FALSE(Enabled(d, kCommandPlay));
        Click(d, kCommandPlay);
        EXPECT_FALSE(d.Player().IsPlaying());

        Click(d, kCommandConvert);
        EXPECT_TRUE(std::filesystem::is_regular_file(work_ / "short.sgt"));
        EXPECT_NE(RowOf(d.SequenceList(), "short.sgt"), -1);
        EXPECT_EQ(d.StatusPane()->text().toStdString(), std::string("short.sgt") + kMadeSuffix);
        Select(d.SequenceList(), "short.sgt");
        EXPECT_FALSE(Enabled(d, kCommandPlay));
        EXPECT_FALSE(Enabled(d, kCommandConvert));
        Select(d.BankList(), "other.dls");
        EXPECT_FALSE(Enabled(d, kCommandPlay));

        // The dialog stays open until it is closed.
        QTimer::singleShot(200, &d, [&d] { d.done(42); });
        EXPECT_EQ(d.exec(), 42);
        EXPECT_FALSE(d.Player().NotifierRunning());
        std::filesystem::remove(work_ / "short.sgt");
    }
    EXPECT_TRUE(services_.messages.empty());
}

TEST_F(PreviewDialogTest, MainDialogListenOpensThePreviewOnTheStoredFolder) {
    TempFolder program;
    MainDialog main(program.path());
    main.SetPlayerOptions(NullOutput());
    main.SetSettings({"", work_.path(), 0});
    main.show();
    auto* output = main.findChild<QLineEdit*>("outputEdit");
    output->setText("/somewhere/else");
    auto* listen = main.findChild<QPushButton*>("listenButton");
    ASSERT_TRUE(listen->isEnabled());
    std::string folder;
    int rows = -1;
    QTimer::singleShot(0, qApp, [&] {
        if (auto* preview = qobject_cast<PreviewDialog*>(QApplication::activeModalWidget())) {
            folder = preview->WorkFolder();
            rows = preview->SequenceList()->rowCount();
            QTest::keyClick(preview, Qt::Key_Escape);
        }
    });
    QTest::mouseClick(listen, Qt::LeftButton);
    EXPECT_EQ(folder, work_.path());
    EXPECT_EQ(rows, 4);
    EXPECT_EQ(main.OutputFolder(), work_.path()); // the box was not stored
    EXPECT_TRUE(main.isVisible());
}

} // namespace
} // namespace sonvex::ui
