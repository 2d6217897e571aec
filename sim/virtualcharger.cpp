#include "virtualcharger.h"

#include "link/commands.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

using namespace chlink;

namespace sim {

VirtualCharger::VirtualCharger(QObject *parent) : VirtualCharger(Mode::Firmware, parent) {}

VirtualCharger::VirtualCharger(Mode mode, QObject *parent)
    : QObject(parent), m_mode(mode == Mode::Monitor ? Mode::Firmware : mode),
      m_line(faults, [this](const QByteArray &bytes) { emit transmit(bytes); }), m_model(*this),
      m_monitor(m_model, *this, m_clock, m_line, forceMonitorType, monitorProgram),
      m_boot(*this, m_line, [this] { emit uploadEnded(); }),
      m_firmware(
          m_model, *this, m_clock, m_line,
          {[this] { setMode(Mode::Monitor); }, [this] { emit beeped(); },
           [this](int ms, std::function<void()> done) { writeCycle(ms, std::move(done)); }}) {
    m_monitorTimer = new QTimer(this);
    m_monitorTimer->setInterval(100);
    connect(m_monitorTimer, &QTimer::timeout, this, &VirtualCharger::update);
    if (mode == Mode::Monitor) setMode(mode); // as after command 3: the charger's own run
}

VirtualCharger::~VirtualCharger() = default;

void VirtualCharger::setMode(Mode mode) {
    if (mode == m_mode) return;
    update();
    const int before = baudRate();
    const Mode old = m_mode;
    m_mode = mode;
    m_firmware.reset();
    m_boot.reset();
    // Leaving the monitor stream ends the charger's own run, with its outputs cut.
    if (old == Mode::Monitor) m_monitor.stop();
    if (mode == Mode::Monitor) m_monitor.start();
    m_monitorTimer->stop();
    if (mode == Mode::Monitor && !m_clock.isManual()) m_monitorTimer->start();
    if (baudRate() != before) emit baudRateChanged(baudRate());
}

void VirtualCharger::setManualClock(bool manual) {
    update();
    m_clock.setManual(manual);
    if (manual)
        m_monitorTimer->stop();
    else if (m_mode == Mode::Monitor)
        m_monitorTimer->start();
}

void VirtualCharger::advance(double chargerSeconds) {
    update();
    m_clock.advance(chargerSeconds);
    update();
}

void VirtualCharger::setBattery(const BatterySpec &spec) {
    update();
    m_model.battery().reset(spec);
}

void VirtualCharger::setAmbient(double celsius) {
    update();
    Battery &b = m_model.battery();
    const double soc = b.stateOfCharge(), temp = b.temperatureC(), polar = b.polarisationVolts();
    BatterySpec spec = b.spec();
    spec.ambientC = celsius;
    spec.stateOfCharge = soc;
    b.reset(spec);
    b.setState(soc, temp, polar);
}

void VirtualCharger::setPackTemperature(double celsius) {
    update();
    Battery &b = m_model.battery();
    b.setState(b.stateOfCharge(), celsius, b.polarisationVolts());
}

void VirtualCharger::setBatteryPresent(bool present) {
    update();
    batteryPresent = present;
}

void VirtualCharger::writeCycle(int ms, std::function<void()> done) {
    m_writing = true;
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, done = std::move(done)] {
        update();
        done();
        m_writing = false;
        emit writeCycleEnded();
        // The bytes that came in meanwhile, as the receive buffer hands them over now.
        if (!m_writing && !m_held.isEmpty()) receive(std::exchange(m_held, QByteArray()));
    });
}

double VirtualCharger::stepModel(double dt, bool running) {
    // The pace follows the pack's open-circuit voltage: the polarisation swings each time a
    // window pulses a path off to measure, which says nothing about how close the run is to
    // its end.
    const Battery &b = m_model.battery();
    const int cells = b.spec().cells;
    const auto openCircuit = [&] { return m_model.packVolts(0) / cells - b.polarisationVolts(); };
    const double before = openCircuit();
    const double chargeAmps = m_model.step(dt);
    m_monitor.addCharge(chargeAmps * dt);
    if (running) m_monitor.step();
    const double moved = std::abs(openCircuit() - before);
    m_voltsPerSecond = moved / dt;
    return moved;
}

void VirtualCharger::update() {
    const double target = m_clock.seconds();
    if (target < m_model.seconds()) // the clock was set back
        m_model.setSeconds(target);
    const double speed = m_clock.speed();
    const bool paced = speed > 1;
    // The wall-clock time this update covers, less what earlier steps ran ahead.
    double wall = paced ? (target - m_model.seconds()) / speed - m_paceDebt : 0;
    m_paceDebt = 0;
    bool held = paced && wall < 0;
    while (!held && m_model.seconds() < target) {
        const bool running = m_mode == Mode::Monitor && m_monitor.active();
        // Second steps while anything flows; an idle pack only cools and rests, which
        // longer steps follow well (its time constants are minutes), so hours of idle
        // charger time at a high speed factor cost little. Where the pack's voltage moves
        // fast (the collapse of an empty pack), shorter steps, down to an eighth of a second,
        // keep each within a few millivolts per cell.
        const bool idle = m_model.idle() && !running;
        const double fine = std::clamp(0.005 / std::max(m_voltsPerSecond, 1e-9), 0.125, 1.0);
        const double dt = std::min(idle ? 20.0 : fine, target - m_model.seconds());
        const double moved = stepModel(dt, running);
        if (paced) {
            // What the step costs in wall-clock time: its share at the speed factor, or the
            // time the pace allows for the voltage it moved, never more than real time.
            wall -= std::min(dt, std::max(dt / speed, moved / kPaceVoltsPerCell));
            held = wall < 0;
        }
    }
    if (held) {
        // The charger's time waits for the wall clock to catch up with the model.
        m_paceDebt = -wall;
        m_clock.setSeconds(m_model.seconds());
    }
}

double VirtualCharger::chargeAmps() {
    update();
    return m_model.chargeAmps();
}

double VirtualCharger::dischargeAmps() {
    update();
    return m_model.dischargeAmps();
}

double VirtualCharger::batteryVolts() {
    update();
    return m_model.batteryVolts();
}

double VirtualCharger::packTemperature() {
    update();
    return m_model.packTemperature();
}

double VirtualCharger::heatsinkTemperature() {
    update();
    return m_model.heatsinkTemperature();
}

int VirtualCharger::channelCount(int code) {
    update();
    return m_model.count(code);
}

// ---- The line ----

void VirtualCharger::receive(const QByteArray &bytes) {
    update();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (m_line.gone()) return; // nothing more reaches the charger
        if (m_writing) {           // busy writing its EEPROM: the rest waits
            m_held += bytes.mid(i);
            return;
        }
        onByte(quint8(bytes.at(i)));
        if (m_line.byteTaken()) {
            emit vanishRequested();
            return;
        }
    }
}

void VirtualCharger::onByte(quint8 b) {
    if (m_mode == Mode::BootLoader) {
        m_boot.onByte(b);
        return;
    }
    if (m_mode == Mode::Monitor) {
        // The stream only talks. Any byte from the PC (back at 9600 baud) ends it: the
        // charger returns to its command set, and takes the byte if it is a probe or the
        // start of a command. Its own run is suspended: a command 3 next (the monitor
        // window asking again) continues it; anything else ends it.
        setMode(Mode::Firmware);
        if (b != ESC) m_monitor.discard();
        m_escLeavingMonitor = b == ESC;
        if (b != PROBE && b != ESC) return;
    } else if (m_monitor.suspended()) {
        if (!(m_escLeavingMonitor && b == CMD_DISCONNECT)) m_monitor.discard();
        m_escLeavingMonitor = false;
    }
    m_firmware.onByte(b);
}

void VirtualCharger::receiveGarbled(int count) {
    if (count <= 0) return;
    update();
    // A byte at the wrong speed is noise to the charger, but in the monitor stream it still
    // tells the charger that the PC talks again.
    if (m_mode == Mode::Monitor) setMode(Mode::Firmware);
    m_monitor.discard();
}

} // namespace sim
