#pragma once

#include <QCommandLineOption>
#include <QString>
#include <QStringList>
#include <memory>

class QCommandLineParser;

namespace chlink {
class ChargerLink;
}
namespace serialio {
class ComMap;
}
namespace sim {
class VirtualCharger;
}

// The link as pelmora builds it, for its windows and its command line alike: the port map
// (settings and --com), the in-process virtual charger for --demo, and the one ChargerLink
// with its port factory.
namespace cli {

// The device name that stands for the in-process virtual charger.
inline constexpr const char *kVirtualDevice = "virtual";

struct LinkOptions {
    QStringList mappings; // --com N=DEVICE, remembered for the next runs
    bool demo = false;    // COM 1 is the in-process virtual charger
    double demoSpeed = 20;
    QString device; // --port DEVICE: COM 1 is this device for this run only
};

// The options the windows and every subcommand share: --com, --demo, --demo-speed.
struct LinkOptionSet {
    LinkOptionSet();
    void addTo(QCommandLineParser &p) const;
    // Reads them into `o`; false with the reason for a value out of range.
    bool read(const QCommandLineParser &p, LinkOptions *o, QString *error) const;

    QCommandLineOption com, demo, demoSpeed;
};

struct LinkSetup {
    std::unique_ptr<serialio::ComMap> ports;
    std::unique_ptr<sim::VirtualCharger> demoCharger;
    std::unique_ptr<chlink::ChargerLink> link;

    // False with a message on options the port map refuses (a malformed --com).
    bool setUp(const LinkOptions &options, QString *error);
    LinkSetup();
    ~LinkSetup();
    LinkSetup(const LinkSetup &) = delete;
    LinkSetup &operator=(const LinkSetup &) = delete;
};

// Where the remembered port mappings live.
QString portSettingsFile();

} // namespace cli
