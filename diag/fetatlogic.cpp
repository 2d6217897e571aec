#include "fetatlogic.h"

#include "charger/channels.h"
#include "charger/eeprommap.h"
#include "link/numtext.h"

#include <cmath>

namespace diag {

using namespace chlink;

const std::array<PanelChannel, kPanelChannels> &panelChannels() {
    static const std::array<PanelChannel, kPanelChannels> table = {{
        {CMD_READ_TEMP, "LbTemptxt", "TEMP", "LbTempcad", "LbTemp", ""},
        {CMD_READ_VALIM, "LbValimtxt", "VALIM", "LbValimcad", "LBValim", ""},
        {CMD_READ_VDBL, "LbVdbltxt", "VDBL", "LBVdblCad", "LBVdbl", ""},
        {CMD_READ_VINV, "LbVinvtxt", "VINVER", "LBInvCad", "LBVinv", ""},
        {CMD_READ_TBAT, "LbTembattxt", "TPBAT", "LBTembatCad", "LBtempbat", "Futur"},
        {CMD_READ_ICHRG, "LbIchargtxt", "ICHARG", "LbIchargCad", "Icharg", ""},
        {CMD_READ_IDECH, "LbIdechtxt", "IDECH", "LbIdechCad", "LbIdech", ""},
        {CMD_READ_VDELTA, "LbVdeltatxt", "VDELTA", "LbVdeltaCad", "LbVdelta", "Invald"},
        {CMD_READ_VBAT, "LbVbatintxt", "VBAT", "LbVbatinCad", "LbVbatin", ""},
    }};
    return table;
}

std::optional<QString> convertedText(Cmd command, int raw, const QByteArray &tableA,
                                     const QByteArray &tableB) {
    using charger::Quantity;
    const auto scaled = [&](Quantity q, const char *unit) -> std::optional<QString> {
        const auto v = charger::convert(q, raw, tableA, tableB);
        if (!v) return std::nullopt;
        return numText(*v) + QLatin1String(unit);
    };
    switch (command) {
    case CMD_READ_TEMP: {
        // The panel shows the reading above the battery cut-off temperature byte.
        const auto v = charger::convert(Quantity::Temper, raw, tableA, tableB);
        if (!v) return std::nullopt;
        return numText(charger::value(tableA, charger::master::kBatCutoffTemp) + *v);
    }
    case CMD_READ_VALIM:
        return scaled(Quantity::Valim, "V");
    case CMD_READ_VDBL:
        return scaled(Quantity::Vdbl, "V");
    case CMD_READ_VINV:
        return raw < 100 ? QStringLiteral("inv") : QStringLiteral("norm");
    case CMD_READ_ICHRG:
        return scaled(Quantity::Ichrg, "A");
    case CMD_READ_IDECH:
        return scaled(Quantity::Idech, "A");
    case CMD_READ_VBAT:
        return scaled(Quantity::Vbat, "V");
    default:
        return std::nullopt;
    }
}

Lamp statusLamp(charger::Status s, quint8 reply) {
    const bool set = charger::isSet(s, reply);
    const bool button = s >= charger::Status::Sw1Released;
    return set == button ? Lamp::Green : Lamp::Red;
}

QString panelClockText(int hours, int minutes, int seconds) {
    const QString sep = QStringLiteral(" , ");
    return numText(hours) + sep + numText(minutes) + sep + numText(seconds);
}

QString potText(int position, int coefficient) {
    if (coefficient == 0) return numText(position);
    const double amps = std::floor(double(position) / coefficient * 100.0) / 100.0;
    return numText(position) + QStringLiteral(" <=> ") + numText(amps);
}

QString maxDutyText(int frequency) {
    return QStringLiteral("MAX : ") + numText(4 * frequency);
}

const std::array<OutputDef, kOutputs> &outputDefs() {
    static const std::array<OutputDef, kOutputs> table = {{
        {Output::Ground, "Cbgndbat", "GND BAT", "Label5", CMD_GROUND_BAT, 0, Lamp::Green},
        {Output::CutPower, "CbCutpwr", "CUT POWER", "Label3", CMD_CUT_POWER, 0, Lamp::Red},
        {Output::CutCharge, "Cbcutch", "CUT CHRG", "Label21", CMD_CUT_CHARGE, 0, Lamp::Red},
        {Output::CutDischarge, "CbCutdech", "CUT DECH", "Label20", CMD_CUT_DISCHARGE, 0, Lamp::Red},
        {Output::Fan, "Cbventillo", "VENTILO", "Label19", CMD_FAN, 1, Lamp::Red},
        {Output::CutDoubler, "CbCutDBl", "CUT VDBL", "Label18", CMD_BOOSTER, 0, Lamp::Green},
        {Output::Led, "CbLed", "LED", "Label17", CMD_LED, 1, Lamp::Red},
    }};
    return table;
}

const OutputDef &outputDef(Output o) {
    return outputDefs()[size_t(o)];
}

OutputStep outputStep(Output o, int state) {
    const OutputDef &d = outputDef(o);
    if (state != 1) return {d.firstArgument, d.firstLamp, 1};
    return {quint8(1 - d.firstArgument), d.firstLamp == Lamp::Green ? Lamp::Red : Lamp::Green, 0};
}

QByteArray boosterArguments(quint8 cutArgument, bool booster, int frequency, int delta) {
    QByteArray a(1, char(cutArgument));
    if (booster) {
        const int high = delta / 256;
        a += char(frequency);
        a += char(high);
        a += char(delta - 256 * high);
    }
    return a;
}

quint8 doublerArgument(int doublerState) {
    return doublerState == 1 ? 0 : 1;
}

std::vector<SwitchOff> switchOffOnLeaving(const OutputMemory &m) {
    std::vector<SwitchOff> out;
    const auto known = [&](Output o) { return m.known[size_t(o)]; };
    for (Output o : {Output::CutCharge, Output::CutDischarge, Output::CutPower})
        if (known(o) && m[o] != 1) out.push_back({outputDef(o).command, 0});
    if (known(Output::Ground) && m[Output::Ground] == 1) out.push_back({CMD_GROUND_BAT, 1});
    return out;
}

} // namespace diag
