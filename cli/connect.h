#pragma once

#include <QString>
#include <QTextStream>

namespace chlink {
class ChargerLink;
}

namespace cli {

class Interrupt;

// Opens COM 1 (`device`: what it stands for, kVirtualDevice for the demo charger) and runs the main
// window's handshake: probes until the charger answers, the link check, bytes 0..15 of both
// internal EEPROMs into tables A and B. Probing stops after waitMs or on Ctrl-C. Returns Ok,
// NoCharger (the port will not open, no answer), TimedOut (it answered the probe, then fell silent)
// or Interrupted, the reason on `err`.
int connectCharger(chlink::ChargerLink &link, const QString &device, int waitMs,
                   Interrupt &interrupt, const QString &prefix, QTextStream &err);

// Why `device` would not open, in English, from what the system says about it.
QString openFailureEnglish(const QString &device);

} // namespace cli
