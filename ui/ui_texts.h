// SPDX-License-Identifier: GPL-3.0-or-later
// The fixed texts of the desktop program (UTF-8): settings keys, captions, labels,
// picker titles and filters, column headers and the one question it asks.
#pragma once

namespace sonvex::ui {

inline constexpr const char* kSettingsFileName = "Sonvex.ini"; // settings file beside the program
inline constexpr const char* kSettingsSection =
    "ｺﾝﾊﾞｰﾄﾃﾞｰﾀ";                                        // the one section of the settings file
inline constexpr const char* kKeyInputFile = "入力ﾌｧｲﾙ"; // key: content of the input-file box
inline constexpr const char* kKeyOutputFolder =
    "出力ﾌｫﾙﾀﾞ"; // key: content of the output-folder box; also the box's label
inline constexpr const char* kKeyFileType = "ﾌｧｲﾙﾀｲﾌﾟ"; // key: carried through unchanged
inline constexpr const char* kKeyLanguage =
    "言語"; // key: "ja" or "en"; the locale decides otherwise
inline constexpr const char* kDialogFontFace = "ＭＳ Ｐゴシック"; // face asked for by every dialog
inline constexpr const char* kMainCaption = "Sonvex Ver0.26";     // caption of the main dialog
inline constexpr const char* kLabelInputFile = "元ﾃﾞｰﾀｰ";         // label of the input-file box
inline constexpr const char* kButtonAnalyze = "ｱﾅﾗｲｽﾞ";
inline constexpr const char* kButtonConvert = "ｺﾝﾊﾞｰﾄ";
inline constexpr const char* kButtonFolder = "ﾌｫﾙﾀﾞ";
inline constexpr const char* kButtonListen = "試聴";
inline constexpr const char* kButtonList = "ﾘｽﾄ";
inline constexpr const char* kReadyText = "ﾚﾃﾞｨ"; // status pane text when the dialog opens
inline constexpr const char* kOutputFolderPrompt =
    "保持しているフォルダ　"; // folder browser prompt of the main dialog, followed by the folder
inline constexpr const char* kSourceFolderPrompt =
    "保持しているパス　"; // folder browser prompt of the list editor, followed by the folder
inline constexpr const char* kFolderBrowserTitle =
    "フォルダを選択してください"; // folder browser window title
inline constexpr const char* kListPickerTitle =
    "ｺﾝﾊﾞｰﾄﾘｽﾄﾌｧｲﾙを選んでください"; // convert list picker title
inline constexpr const char* kListPickerFilter =
    "ｺﾝﾊﾞｰﾄﾘｽﾄﾌｧｲﾙ (*.clg)|*.clg||"; // convert list picker filter, in name|pattern|| form
inline constexpr const char* kListPickerDefaultExtension = "*.clg";
inline constexpr const char* kGamePickerTitle =
    "元ﾃﾞｰﾀﾌｧｲﾙを選んでください"; // game file picker title
inline constexpr const char* kGamePickerFilter =
    "PSﾌｧｲﾙ|*.*||"; // game file picker filter, in name|pattern|| form
inline constexpr const char* kDiscPickerFilter =
    "ﾃﾞｨｽｸｲﾒｰｼﾞとPSF|*.cue *.bin *.iso *.img *.psf *.minipsf||"; // its second filter
inline constexpr const char* kNoGameFileText =
    "元ﾃﾞｰﾀがありません"; // what the input box holds when no game file is chosen
inline constexpr const char* kColumnType = "識別子"; // list editor column headers
inline constexpr const char* kColumnNumber = "No";
inline constexpr const char* kColumnOffset = "ｵﾌｾｯﾄ";
inline constexpr const char* kColumnFileName = "ﾌｧｲﾙ名";
inline constexpr const char* kListEditorTitlePrefix =
    "ｺﾝﾊﾞｰﾄﾘｽﾄ - "; // followed by the list's file name
inline constexpr const char* kSaveQuestion =
    "変更を保存しますか？"; // asked when closing a modified list
inline constexpr const char* kTemporaryExtension =
    ".tmp"; // extension of the list while it is rewritten

inline constexpr const char* kPreviewCaption =
    "試聴と変換"; // caption of the preview-and-convert dialog
inline constexpr const char* kColumnDlsFile = "DLSﾌｧｲﾙ";          // column 0 of the DLS list
inline constexpr const char* kColumnSequenceFile = "SMF&SGTﾌｧｲﾙ"; // column 0 of the SMF&SGT list
inline constexpr const char* kColumnSize = "ｻｲｽﾞ";                // column 1 of both lists
inline constexpr const char* kLoopCountFormat =
    "ﾙｰﾌﾟ:%03d"; // loop pane with the repeats still to come
inline constexpr const char* kLoopEndlessText =
    "ﾙｰﾌﾟ: ∞"; // loop pane of a segment that repeats without end
inline constexpr const char* kNoSoundDeviceText =
    "ｻｳﾝﾄﾞﾃﾞﾊﾞｲｽが開けません"; // status pane of a preview that cannot play
inline constexpr const char* kSegmentNeedsDlsText =
    "SGTへの変換にはDLSﾌｧｲﾙを選んでください"; // status pane while an SF2 is the selected bank

} // namespace sonvex::ui
