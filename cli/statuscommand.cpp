#include "charger/eeprommap.h"
#include "commands.h"
#include "diag/eepromlogic.h"
#include "link/exchanges.h"
#include "link/numtext.h"
#include "link/session.h"
#include "linksetup.h"
#include "support.h"

#include <QCommandLineParser>

namespace cli {

namespace {

// The sixteen general parameters of a controller: address, byte in hexadecimal and decimal,
// the name the EEPROM editor shows, and a word's value on its high byte's line.
void printGeneral(QTextStream &out, charger::Controller c, const QByteArray &table) {
    out << (c == charger::Controller::Master ? "Master" : "Slave")
        << " general parameters (address  hex  decimal  name):\n";
    QList<int> wordStarts;
    for (const charger::Param &p : charger::addressMap(c))
        if (p.region() == charger::Region::General && p.width == charger::Width::Word)
            wordStarts << p.address;
    for (int a = 0; a < charger::kGeneralBytes; ++a) {
        const quint8 v = quint8(table.at(a));
        out << QStringLiteral("  %1  %2  %3  ").arg(a, 2).arg(diag::hexByte(v)).arg(v, 3)
            << charger::editorName(c, a);
        if (wordStarts.contains(a)) out << "  (word " << charger::word(table, a) << ")";
        out << '\n';
    }
}

int runStatus(Bench &b, const QCommandLineParser &) {
    chlink::Session s(*b.link);
    const auto status = chlink::linkStatus(s);
    if (!status) {
        b.err << "pelmora status: link check: " << linkFailureText(s.error()) << '\n';
        return exitFor(s.error());
    }
    const int x = quint8(status->at(0)), y = quint8(status->at(1)), z = quint8(status->at(2));
    b.out << "Charger on "
          << (b.device == QLatin1String(kVirtualDevice) ? QStringLiteral("the demo charger")
                                                        : b.device)
          << '\n';
    b.out << "I2C err :" << chlink::numText(x) << ',' << chlink::numText(y) << ','
          << chlink::numText(z) << '\n';
    b.out << (z == chlink::ACK ? "Slave controller answers over I2C\n"
                               : "Slave controller does not answer over I2C\n");
    printGeneral(b.out, charger::Controller::Master, s.tableA());
    printGeneral(b.out, charger::Controller::Slave, s.tableB());
    return Ok;
}

} // namespace

Command statusCommand() {
    Command c;
    c.name = QStringLiteral("status");
    c.summary = QStringLiteral("Connect, print the I2C line and the general parameters of both "
                               "controllers.");
    c.addOptions = [](QCommandLineParser &) {};
    c.check = [](Bench &b, const QCommandLineParser &p) {
        if (p.positionalArguments().isEmpty()) return int(Ok);
        b.err << "pelmora status: unexpected argument '" << p.positionalArguments().first()
              << "'\nTry 'pelmora status --help'.\n";
        return int(Usage);
    };
    c.run = runStatus;
    return c;
}

} // namespace cli
