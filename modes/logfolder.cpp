#include "logfolder.h"

#include "runlog.h"

#include <QDir>
#include <QStandardPaths>

namespace modes {

QString enterLogFolder(const QString &windowsPath, const QString &name, QString *error) {
#ifdef Q_OS_WIN
    Q_UNUSED(name);
    const QString folder = QDir::cleanPath(QDir::fromNativeSeparators(windowsPath));
#else
    Q_UNUSED(windowsPath);
    const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString folder = (base.isEmpty() ? QDir::homePath() : base) + QLatin1Char('/') + name;
#endif
    // Entering it first, creating it only when that fails, as the folder usually exists.
    if (!QDir::setCurrent(folder) && !(QDir().mkpath(folder) && QDir::setCurrent(folder))) {
        if (error)
            *error = QStringLiteral("Impossible de créer ou d'ouvrir le dossier ") +
                     QDir::toNativeSeparators(folder);
        return {};
    }
    keepCurrentFolder(); // chosen on purpose: runLogFolder() must not move away from it
    return QDir::currentPath();
}

} // namespace modes
