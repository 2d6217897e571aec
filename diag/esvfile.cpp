#include "esvfile.h"

#include <QFile>
#include <QSaveFile>

namespace diag {

namespace {
bool separator(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n';
}
} // namespace

QByteArray esvText(const QByteArray &image) {
    QByteArray out;
    out.reserve(kEsvValues * 7);
    for (int a = 0; a < kEsvValues; ++a) {
        const int v = a < image.size() ? quint8(image.at(a)) : 0;
        out += ' ' + QByteArray::number(v) + " \r\n";
    }
    return out;
}

EsvParse parseEsv(const QByteArray &text) {
    EsvParse r;
    QByteArray image;
    image.reserve(kEsvValues);
    int line = 1;
    const auto fail = [&](const QString &why) {
        r.error = QStringLiteral("ligne %1 : %2").arg(line).arg(why);
        return r;
    };
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const char c = text.at(i);
        if (c == '\n') {
            ++line;
            ++i;
            continue;
        }
        if (separator(c)) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < n && !separator(text.at(end)))
            ++end;
        const QByteArray token = text.mid(i, end - i);
        i = end;
        if (image.size() == kEsvValues)
            return fail(QStringLiteral("plus de %1 nombres dans le fichier").arg(kEsvValues));
        bool digits = token.size() <= 9;
        for (char d : token)
            digits = digits && d >= '0' && d <= '9';
        if (!digits)
            return fail(QStringLiteral("« %1 » n'est pas un nombre entier")
                            .arg(QString::fromLatin1(token.left(20))));
        const int v = token.toInt();
        if (v > 255) return fail(QStringLiteral("%1 dépasse 255").arg(v));
        image.append(char(v));
    }
    if (image.size() < kEsvValues) {
        r.error = QStringLiteral("le fichier ne contient que %1 nombres sur %2")
                      .arg(image.size())
                      .arg(kEsvValues);
        return r;
    }
    r.ok = true;
    r.image = image;
    return r;
}

EsvParse loadEsv(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        EsvParse r;
        r.error = f.errorString();
        return r;
    }
    if (f.size() > kEsvMaxBytes) {
        EsvParse r;
        r.error = QStringLiteral("fichier trop grand pour une image EEPROM");
        return r;
    }
    return parseEsv(f.read(kEsvMaxBytes + 1));
}

bool saveEsv(const QString &path, const QByteArray &image, QString *why) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (why) *why = f.errorString();
        return false;
    }
    const QByteArray text = esvText(image);
    if (f.write(text) != text.size() || !f.commit()) {
        if (why) *why = f.errorString();
        return false;
    }
    return true;
}

} // namespace diag
