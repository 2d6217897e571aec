#include "openfailure.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace serialio {

DeviceFacts deviceFacts(const QString &device) {
    DeviceFacts f;
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(device);
    struct stat st {};
    if (path.isEmpty() || ::stat(path.constData(), &st) != 0) return f;
    f.exists = true;
    f.charDevice = S_ISCHR(st.st_mode);
    f.accessible = ::access(path.constData(), R_OK | W_OK) == 0;
    if (const group *g = ::getgrgid(st.st_gid)) f.group = QString::fromLocal8Bit(g->gr_name);
#else
    f.exists = !device.isEmpty();
    f.charDevice = true;
    f.accessible = true;
#endif
    return f;
}

OpenFailure classifyOpenFailure(const DeviceFacts &facts, QSerialPort::SerialPortError error) {
    if (!facts.exists) return OpenFailure::NoDevice;
    if (!facts.charDevice || error == QSerialPort::UnsupportedOperationError)
        return OpenFailure::NotSerial;
    if (!facts.accessible) return OpenFailure::Denied;
    // Allowed, yet refused: another program holds the port (busy or locked).
    if (error == QSerialPort::PermissionError || error == QSerialPort::OpenError)
        return OpenFailure::InUse;
    return OpenFailure::Other;
}

QString groupToJoin(const DeviceFacts &facts) {
    // Joining root's group is no answer.
    return facts.group == QLatin1String("root") ? QString() : facts.group;
}

QString openFailureText(const QString &device, const DeviceFacts &facts,
                        QSerialPort::SerialPortError error, const QString &systemText) {
    const QString head = device + QStringLiteral(" : ");
    switch (classifyOpenFailure(facts, error)) {
    case OpenFailure::NoDevice:
        return head + QStringLiteral("périphérique introuvable (débranché ?)");
    case OpenFailure::NotSerial:
        return head + QStringLiteral("n'est pas un port série");
    case OpenFailure::Denied:
        if (groupToJoin(facts).isEmpty())
            return head + QStringLiteral("accès refusé à cet utilisateur");
        return head + QStringLiteral("accès refusé : l'utilisateur n'est pas dans le groupe %1.\n"
                                     "Pour l'y ajouter : sudo usermod -aG %1 $USER\n"
                                     "puis fermer la session et se reconnecter.")
                          .arg(groupToJoin(facts));
    case OpenFailure::InUse:
        return head + QStringLiteral("port occupé par un autre programme");
    case OpenFailure::Other:
        break;
    }
    return head + QStringLiteral("ouverture impossible (%1)").arg(systemText);
}

QString lostPortText(const QString &device) {
    return device + QStringLiteral(" : liaison perdue (adaptateur débranché ?)");
}

} // namespace serialio
