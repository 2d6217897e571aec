#pragma once

#include "charger/status.h"
#include "link/commands.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>
#include <vector>

// What the state panel shows and sends, as plain code: the captions of its channels, the
// colours of its indicators, the arguments of its output buttons.
namespace diag {

// An indicator's colour: green or red, as the state colours of the program.
enum class Lamp { Green, Red };

// The nine analogue channels, in the order the panel reads them (commands 5 to 13).
struct PanelChannel {
    chlink::Cmd command;
    const char *nameLabel; // objectName of the name label
    const char *caption;   // its text
    const char *rawLabel;  // the raw count
    const char *valueLabel;
    const char *valueCaption; // what the converted label shows before any conversion
};
constexpr int kPanelChannels = 9;
const std::array<PanelChannel, kPanelChannels> &panelChannels();

// The converted text of channel `command` for a raw count, or nothing when the channel has
// no conversion or its calibration constant is 0 (the label then keeps its caption).
// Raw counts are any 16-bit reply, 0..65535.
std::optional<QString> convertedText(chlink::Cmd command, int raw, const QByteArray &tableA,
                                     const QByteArray &tableB);

// The colour a status bit gives its indicator: red for a set output or cut bit, green for a
// released push-button (a set bit), and the reverse when the bit is clear.
Lamp statusLamp(charger::Status s, quint8 reply);

// "h , m , s", each number with its own leading blank.
QString panelClockText(int hours, int minutes, int seconds);
// A current potentiometer's text: the position, and the amperes it gives by the coefficient
// (steps per ampere) when that is not 0.
QString potText(int position, int coefficient);
// "MAX : " and the highest duty value at a PWM frequency value.
QString maxDutyText(int frequency);

// The seven outputs the panel switches by hand.
enum class Output { Ground, CutPower, CutCharge, CutDischarge, Fan, CutDoubler, Led };
constexpr int kOutputs = 7;

struct OutputDef {
    Output output;
    const char *button; // objectName and caption of the button
    const char *caption;
    const char *indicator; // objectName of its indicator
    chlink::Cmd command;
    quint8 firstArgument; // the argument sent when the remembered state is not 1
    Lamp firstLamp;       // the colour it shows then
};
const std::array<OutputDef, kOutputs> &outputDefs();
const OutputDef &outputDef(Output o);

// What one click sends and shows, from the remembered state (1 or anything else).
struct OutputStep {
    quint8 argument;
    Lamp lamp;
    int newState;
};
OutputStep outputStep(Output o, int state);

// The arguments of command 51: the doubler-cut argument alone, or with a booster the PWM
// frequency value and the delta value, high byte first.
QByteArray boosterArguments(quint8 cutArgument, bool booster, int frequency, int delta);
// The doubler-cut argument the PWM sliders repeat: the one the doubler button last sent
// (0 when its state is 1), 1 before its first use.
quint8 doublerArgument(int doublerState);

// An output the panel leaves on when it goes away, with the command and argument that switch
// it off: the charge, discharge and power paths seen or set on (state not 1) and the battery
// ground the panel lifted (state 1). Only outputs whose state is known count.
struct SwitchOff {
    chlink::Cmd command;
    quint8 argument;
};
struct OutputMemory {
    std::array<int, kOutputs> state{};
    std::array<bool, kOutputs> known{};
    int &operator[](Output o) { return state[size_t(o)]; }
    int operator[](Output o) const { return state[size_t(o)]; }
    void set(Output o, int s) {
        state[size_t(o)] = s;
        known[size_t(o)] = true;
    }
};
std::vector<SwitchOff> switchOffOnLeaving(const OutputMemory &m);

} // namespace diag
