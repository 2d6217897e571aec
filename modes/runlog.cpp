#include "runlog.h"

#include "link/numtext.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

namespace modes {

QString logFileName(const QString &prefix, const QDateTime &start) {
    const QDate d = start.date();
    const QTime t = start.time();
    const auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return prefix + QStringLiteral("_D") + two(d.month()) + QLatin1Char('_') + two(d.day()) +
           QLatin1Char('_') + two(d.year() % 100) + QLatin1Char('T') + two(t.hour()) +
           QLatin1Char('_') + two(t.minute()) + QStringLiteral(".txt");
}

const QStringList &chargeColumns() {
    static const QStringList c = {
        QStringLiteral("DUREE"),     QStringLiteral("VALIMCAD"),  QStringLiteral("VDBLCAD"),
        QStringLiteral("DVaverage"), QStringLiteral("VALIM"),     QStringLiteral("DVFLAG"),
        QStringLiteral("CDVDT"),     QStringLiteral("TEMPER"),    QStringLiteral("ICHRGCAD"),
        QStringLiteral("VBATCAD"),   QStringLiteral("VDELTACAD"), QStringLiteral("ICHRG"),
        QStringLiteral("VBAT"),      QStringLiteral("VDELTA"),    QStringLiteral("CAPACITE"),
        QStringLiteral("TEMPS")};
    return c;
}

const QStringList &dischargeColumns() {
    static const QStringList c = {
        QStringLiteral("DUREE"),   QStringLiteral("VALIMCAD"),  QStringLiteral("VDBLCAD"),
        QStringLiteral("TEMPCAD"), QStringLiteral("VALIM"),     QStringLiteral("VDBL"),
        QStringLiteral("TEMPER"),  QStringLiteral("IDCHRGCAD"), QStringLiteral("VBATCAD"),
        QStringLiteral("ICHRG"),   QStringLiteral("VBAT"),      QStringLiteral("CAPACITE"),
        QStringLiteral("TEMPS")};
    return c;
}

QString headerLine(const QStringList &columns) {
    return columns.join(QLatin1Char(':'));
}

QString recordLine(const std::vector<Field> &fields, QChar decimalPoint) {
    QString line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += QLatin1Char(':');
        if (fields[i]) line += chlink::logText(*fields[i], decimalPoint);
    }
    return line;
}

QChar localeDecimalPoint() {
    const QString p = QLocale::system().decimalPoint();
    return p.isEmpty() ? QLatin1Char('.') : p.at(0);
}

namespace {
bool &folderChosen() {
    static bool chosen = false;
    return chosen;
}
} // namespace

void keepCurrentFolder() {
    folderChosen() = true;
}

QString runLogFolder() {
#ifndef Q_OS_WIN
    if (!folderChosen()) {
        folderChosen() = true;
        const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (!base.isEmpty()) {
            const QString dir = base + QStringLiteral("/logs");
            if (QDir().mkpath(dir)) QDir::setCurrent(dir);
        }
    }
#endif
    return QDir::currentPath();
}

bool createNewFile(QFile &file, const QString &wanted, QString *error) {
    const QFileInfo info(wanted);
    const QString stem = info.path() + QLatin1Char('/') + info.completeBaseName();
    const QString ext = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    constexpr int kMaxNumber = 9999;
    for (int n = 1; n <= kMaxNumber; ++n) {
        const QString name = n == 1 ? wanted : stem + QLatin1Char('_') + QString::number(n) + ext;
        file.setFileName(name);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return true;
        // Taken (a link that points nowhere counts: writing through it could land anywhere):
        // try the next number. Anything else (no folder, no permission) will not get better.
        const QFileInfo taken(name);
        if (!taken.exists() && !taken.isSymLink()) {
            if (error) *error = file.errorString();
            return false;
        }
    }
    if (error)
        *error = QStringLiteral("%1 noms déjà pris de %2 à %3")
                     .arg(kMaxNumber)
                     .arg(QFileInfo(wanted).fileName(),
                          QFileInfo(stem + QStringLiteral("_%1").arg(kMaxNumber) + ext).fileName());
    return false;
}

bool RunLog::open(const QString &path, const QString &header, QString *error) {
    close();
    m_path = path;
    if (!createNewFile(m_file, path, error)) return false;
    m_path = m_file.fileName();
    if (!writeLine(header) || !writeLine(QString())) {
        if (error) *error = m_file.errorString();
        m_file.close();
        return false;
    }
    return true;
}

bool RunLog::writeLine(const QString &line) {
    const QByteArray bytes = line.toUtf8() + "\r\n";
    return m_file.write(bytes) == bytes.size() && m_file.flush();
}

bool RunLog::append(const QString &line) {
    if (!m_file.isOpen()) return false;
    return writeLine(line);
}

void RunLog::close() {
    if (m_file.isOpen()) m_file.close();
}

} // namespace modes
