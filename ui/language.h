// SPDX-License-Identifier: GPL-3.0-or-later
// The language the desktop program speaks. Its Japanese texts are the source texts; an
// English translation (a Qt Linguist catalogue compiled into the program) replaces them
// for users whose locale is not Japanese, unless the settings file names a language.
#pragma once

#include <QLocale>
#include <QString>
#include <span>
#include <string_view>

namespace sonvex::ui {

enum class Language { Japanese, English };

// The settings value "ja" or "en" decides; any other value (or none) leaves the choice
// to the locale: Japanese for a Japanese locale, English for every other.
Language ChooseLanguage(std::string_view setting, const QLocale& locale);

// Makes `language` the one every dialog built from now on speaks, replacing the
// translators installed before. English loads the program's catalogue; Japanese loads
// none for the program (its texts are the source) and Qt's own Japanese catalogue for the
// standard buttons and file dialogs when the system has it. False when the English
// catalogue cannot be loaded (the program then speaks Japanese).
bool InstallLanguage(Language language);
Language CurrentLanguage();

// A fixed text of the program (label, caption, tooltip, picker title) in the current
// language.
QString Tr(const char* source);
QString Tr(std::string_view source);

// A text the core composed and reported (status texts with a file name or count in them,
// the loop pane, numbered messages) in the current language. A text the catalogue does
// not know is shown as it came.
QString TrReported(std::string_view text);

// Texts of the program that the catalogue holds in a form with a place for a name or
// count: the reported text starts with `prefix` and ends with `suffix`, and `pattern`
// ("%1" for what lies between) is the source the catalogue translates.
struct ReportedForm {
    const char* prefix;
    const char* suffix;
    const char* pattern;
};
// The forms, tried in this order (the more specific first).
std::span<const ReportedForm> ReportedForms();

// Translation contexts of the catalogue: the program's fixed texts, the texts the core
// reports, and the numbered messages (their number is the disambiguation).
inline constexpr const char* kFixedContext = "Sonvex";
inline constexpr const char* kReportedContext = "Reported";
inline constexpr const char* kMessageContext = "Message";

} // namespace sonvex::ui
