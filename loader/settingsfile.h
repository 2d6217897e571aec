#pragma once

#include <QString>
#include <optional>

namespace loader {

// What sparlo remembers between runs in "sparlo.ini": three lines ended by CR LF,
//   FILE:<file name>
//   PATH:<folder>
//   COM : <port> (the port number between blanks)
struct LoaderSettings {
    QString file;
    QString folder;
    int port = 1;
    bool operator==(const LoaderSettings &) const = default;
};

// The one place the settings file is read from and written to: the user's configuration
// folder for sparlo.
QString settingsFilePath();

// The settings in the file, or nothing when the file is missing, unreadable or garbled
// (a key missing or a port outside 1..12).
std::optional<LoaderSettings> readSettingsFile(const QString &path);
// The same from the file's bytes.
std::optional<LoaderSettings> parseSettingsText(const QByteArray &bytes);
// The file's text for these settings.
QByteArray settingsFileText(const LoaderSettings &s);
// All or nothing: on failure the previous file is untouched and *error says why.
bool writeSettingsFile(const QString &path, const LoaderSettings &s, QString *error = nullptr);

} // namespace loader
