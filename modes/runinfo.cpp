#include "runinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

namespace modes {

namespace {
// One "key=value" per line; a value keeps everything after the first '=' on its line, so
// line breaks are the only thing a value cannot hold: they are written as spaces.
QString oneLine(const QString &value) {
    QString v = value;
    v.replace(QLatin1Char('\r'), QLatin1Char(' '));
    v.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return v;
}
} // namespace

QString runInfoPath(const QString &logPath) {
    const QFileInfo fi(logPath);
    const QString base = fi.completeSuffix().isEmpty() ? fi.fileName() : fi.completeBaseName();
    return fi.dir().filePath(base + QStringLiteral(".run"));
}

bool writeRunInfo(const QString &logPath, const RunInfo &info, QString *error) {
    QSaveFile file(runInfoPath(logPath));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (error) *error = file.errorString();
        return false;
    }
    QTextStream out(&file);
    out.setEncoding(QStringConverter::Utf8);
    const auto put = [&out](const char *key, const QString &value) {
        out << key << '=' << oneLine(value) << '\n';
    };
    put("log", QFileInfo(logPath).fileName());
    put("start", info.start.toString(Qt::ISODate));
    put("version", info.version);
    put("window", info.window);
    put("setpoint", info.setpoint);
    put("cells", info.cells > 0 ? QString::number(info.cells) : QString());
    put("chemistry", info.chemistry);
    put("port", info.port);
    put("end", info.endReason);
    put("pack", info.pack);
    out.flush();
    if (!file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

std::optional<RunInfo> readRunInfo(const QString &logPath) {
    QFile file(runInfoPath(logPath));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return std::nullopt;
    RunInfo info;
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1);
        if (key == QLatin1String("start"))
            info.start = QDateTime::fromString(value, Qt::ISODate);
        else if (key == QLatin1String("version"))
            info.version = value;
        else if (key == QLatin1String("window"))
            info.window = value;
        else if (key == QLatin1String("setpoint"))
            info.setpoint = value;
        else if (key == QLatin1String("cells"))
            info.cells = qMax(0, value.toInt());
        else if (key == QLatin1String("chemistry"))
            info.chemistry = value;
        else if (key == QLatin1String("port"))
            info.port = value;
        else if (key == QLatin1String("end"))
            info.endReason = value;
        else if (key == QLatin1String("pack"))
            info.pack = value;
    }
    return info;
}

} // namespace modes
