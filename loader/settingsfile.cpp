#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace loader {

namespace {
const QString kFile = QStringLiteral("FILE:");
const QString kPath = QStringLiteral("PATH:");
const QString kCom = QStringLiteral("COM :");
constexpr qint64 kMaxSize = 64 * 1024; // three lines; anything bigger is not ours
} // namespace

QString settingsFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/sparlo.ini");
}

std::optional<LoaderSettings> readSettingsFile(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxSize) return std::nullopt;
    return parseSettingsText(f.readAll());
}

std::optional<LoaderSettings> parseSettingsText(const QByteArray &bytes) {
    if (bytes.size() > kMaxSize) return std::nullopt;
    const QString text = QString::fromUtf8(bytes);
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &l : lines)
        if (l.endsWith(QLatin1Char('\r'))) l.chop(1);
    if (lines.size() < 3 || !lines[0].startsWith(kFile) || !lines[1].startsWith(kPath) ||
        !lines[2].startsWith(kCom))
        return std::nullopt;
    bool ok = false;
    const int port = lines[2].mid(kCom.size()).trimmed().toInt(&ok);
    if (!ok || port < 1 || port > 12) return std::nullopt;
    LoaderSettings s;
    s.file = lines[0].mid(kFile.size());
    s.folder = lines[1].mid(kPath.size());
    s.port = port;
    return s;
}

QByteArray settingsFileText(const LoaderSettings &s) {
    const QString text = kFile + s.file + QStringLiteral("\r\n") + kPath + s.folder +
                         QStringLiteral("\r\n") + kCom + QLatin1Char(' ') +
                         QString::number(s.port) + QStringLiteral(" \r\n");
    return text.toUtf8();
}

bool writeSettingsFile(const QString &path, const LoaderSettings &s, QString *error) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (error) *error = f.errorString();
        return false;
    }
    f.write(settingsFileText(s));
    if (!f.commit()) {
        if (error) *error = f.errorString();
        return false;
    }
    return true;
}

} // namespace loader
