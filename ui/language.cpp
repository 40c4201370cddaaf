// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing the language, installing its translators, and translating fixed and reported
// texts.
#include "ui/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <array>
#include <cstdio>
#include <memory>

#include "platform/messages.h"

namespace sonvex::ui {
namespace {

// The program's English catalogue, compiled from translations/sonvex_en.ts into the
// resources.
constexpr const char* kEnglishCatalogue = ":/i18n/sonvex_en.qm";

// The status texts the core composes around a name or a count, and the loop pane's text
// (UTF-8, in the half-width forms the core writes).
constexpr std::array<ReportedForm, 7> kForms{{
    {"SMF ", "を作製", "SMF %1を作製"},
    {"DLS ", "を作製", "DLS %1を作製"},
    {"", " ｱﾅﾗｲｽﾞ中", "%1 ｱﾅﾗｲｽﾞ中"},
    {"", " ｱﾅﾗｲｽﾞ終了", "%1 ｱﾅﾗｲｽﾞ終了"},
    {"終了 作製ﾌｧｲﾙ数 ", "", "終了 作製ﾌｧｲﾙ数 %1"},
    {"ﾙｰﾌﾟ:", "", "ﾙｰﾌﾟ:%1"},
    {"", "作製", "%1作製"}, // a segment file made: after the forms that end alike
}};

struct Installed {
    Language language = Language::Japanese;
    std::unique_ptr<QTranslator> program;
    std::unique_ptr<QTranslator> qt;
};

Installed& State() {
    static Installed installed;
    return installed;
}

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The numbered message whose text this is, or nullptr.
const MessageText* MessageWithText(std::string_view text) {
    for (const MessageText& message : AllMessages()) {
        if (text == message.text) {
            return &message;
        }
    }
    return nullptr;
}

} // namespace

Language ChooseLanguage(std::string_view setting, const QLocale& locale) {
    if (setting == "ja") {
        return Language::Japanese;
    }
    if (setting == "en") {
        return Language::English;
    }
    return locale.language() == QLocale::Japanese ? Language::Japanese : Language::English;
}

bool InstallLanguage(Language language) {
    Installed& state = State();
    for (const auto* translator : {&state.program, &state.qt}) {
        if (*translator) {
            QCoreApplication::removeTranslator(translator->get());
        }
    }
    state.program.reset();
    state.qt.reset();
    state.language = Language::Japanese;

    if (language == Language::Japanese) {
        // English is Qt's own source language; Japanese needs its catalogue, which the
        // system may not have installed (the standard buttons then stay English).
        auto qt = std::make_unique<QTranslator>();
        if (qt->load(QLocale(QLocale::Japanese, QLocale::Japan), "qtbase", "_",
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QCoreApplication::installTranslator(qt.get());
            state.qt = std::move(qt);
        }
        return true;
    }
    auto program = std::make_unique<QTranslator>();
    if (!program->load(kEnglishCatalogue)) {
        return false;
    }
    QCoreApplication::installTranslator(program.get());
    state.program = std::move(program);
    state.language = Language::English;
    return true;
}

Language CurrentLanguage() {
    return State().language;
}

QString Tr(const char* source) {
    return QCoreApplication::translate(kFixedContext, source);
}

QString Tr(std::string_view source) {
    const std::string text(source);
    return QCoreApplication::translate(kFixedContext, text.c_str());
}

std::span<const ReportedForm> ReportedForms() {
    return kForms;
}

QString TrReported(std::string_view text) {
    if (CurrentLanguage() == Language::Japanese) {
        return FromUtf8(text);
    }
    if (const MessageText* message = MessageWithText(text)) {
        char number[8];
        std::snprintf(number, sizeof number, "%02d", message->number);
        return QCoreApplication::translate(kMessageContext, message->text, number);
    }
    const std::string whole(text);
    const QString exact = QCoreApplication::translate(kReportedContext, whole.c_str());
    if (exact != FromUtf8(text)) {
        return exact;
    }
    for (const ReportedForm& form : kForms) {
        const std::string_view prefix = form.prefix;
        const std::string_view suffix = form.suffix;
        if (text.size() < prefix.size() + suffix.size() || !text.starts_with(prefix) ||
            !text.ends_with(suffix)) {
            continue;
        }
        const QString translated = QCoreApplication::translate(kReportedContext, form.pattern);
        if (translated == QString::fromUtf8(form.pattern)) {
            break; // the catalogue does not know this form
        }
        const std::string_view between =
            text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
        // The file count comes right-aligned in two places; English takes it bare.
        return translated.arg(FromUtf8(between).trimmed());
    }
    return FromUtf8(text);
}

} // namespace sonvex::ui
