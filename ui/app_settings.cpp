// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing the settings file through the chunked file layer.
#include "ui/app_settings.h"

#include <string_view>

#include "chunkfile/chunk_file.h"
#include "ui/ini_file.h"
#include "ui/ui_texts.h"

namespace sonvex::ui {
namespace {

// The file's bytes, or nullopt when it cannot be opened or read whole.
std::optional<std::string> ReadWholeFile(const std::string& path) {
    ChunkFile file;
    if (!file.OpenRead(path)) {
        return std::nullopt;
    }
    const int64_t size = file.Size();
    if (size < 0) {
        return std::nullopt;
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    const int64_t got = file.Read(bytes.data(), size);
    file.Close();
    if (got != size) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace

std::filesystem::path SettingsPath(const std::filesystem::path& programFolder) {
    return programFolder / kSettingsFileName;
}

AppSettings ReadSettings(const std::string& path) {
    AppSettings settings;
    const auto bytes = ReadWholeFile(path);
    if (!bytes) {
        return settings;
    }
    const IniDocument doc = IniDocument::FromBytes(*bytes);
    settings.inputFile = doc.Get(kSettingsSection, kKeyInputFile).value_or("");
    settings.outputFolder = doc.Get(kSettingsSection, kKeyOutputFolder).value_or("");
    settings.fileType = doc.GetInt(kSettingsSection, kKeyFileType, 0);
    return settings;
}

std::string ReadLanguageSetting(const std::string& path) {
    const auto bytes = ReadWholeFile(path);
    if (!bytes) {
        return {};
    }
    return IniDocument::FromBytes(*bytes).Get(kSettingsSection, kKeyLanguage).value_or("");
}

bool WriteSettings(const std::string& path, const AppSettings& settings) {
    IniDocument doc;
    if (const auto bytes = ReadWholeFile(path)) {
        doc = IniDocument::FromBytes(*bytes);
    }
    doc.Set(kSettingsSection, kKeyInputFile, settings.inputFile);
    doc.Set(kSettingsSection, kKeyOutputFolder, settings.outputFolder);
    doc.Set(kSettingsSection, kKeyFileType, std::to_string(settings.fileType));
    const std::string text = doc.Text();

    const std::string staging = path + ".new";
    ChunkFile file;
    if (!file.Create(staging)) {
        return false;
    }
    file.Write(text.data(), static_cast<int64_t>(text.size()));
    if (!file.Close()) {
        ChunkFile::Delete(staging);
        return false;
    }
    if (!ChunkFile::Rename(staging, path)) {
        ChunkFile::Delete(staging);
        return false;
    }
    return true;
}

} // namespace sonvex::ui
