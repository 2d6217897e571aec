#pragma once

#include "link/exchanges.h"

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace modes {

// Outputs to set, in order: command and value.
using Settings = std::vector<std::pair<chlink::Cmd, quint8>>;

// How an exchange of a run ended.
enum class PollEnd {
    Done,        // every step answered
    Interrupted, // Arret, leaving or an earlier failure: nothing more was sent
    LinkFailed,  // a reply did not come (session.error() says why)
};

// The steps of a run's exchanges, each followed by the same check: after every wait the
// exchange stops at once when it is interrupted, or when the reply did not come (end() then
// says which). Nothing is sent once a step has failed.
class PollSteps {
  public:
    // interrupted: checked before every step and after every wait. delay: the measurement
    // delay (Timerch2), false when the wait was cut short.
    PollSteps(chlink::Session &session, std::function<bool()> interrupted,
              std::function<bool(int ms)> delay = {});

    // 27, code, value and its answer byte.
    bool set(chlink::Cmd code, quint8 value);
    // Each setting in turn, stopping at the first that fails.
    bool set(const Settings &settings);
    // A channel's count: a signed 16-bit value on the wire.
    bool read(chlink::Cmd code, std::optional<int> &count);
    bool readClock(std::optional<chlink::ClockTime> &time);
    bool delay(int ms);
    // The check after a wait: false when the exchange must end here.
    bool check(bool answered);

    PollEnd end() const { return m_end; }
    chlink::Session &session() { return m_session; }

  private:
    bool going();

    chlink::Session &m_session;
    std::function<bool()> m_interrupted;
    std::function<bool(int)> m_delay;
    PollEnd m_end = PollEnd::Done;
};

// What one poll of a run read, as received; a field is empty when the poll ended before it.
struct RunSample {
    std::optional<chlink::ClockTime> clock;
    std::optional<int> valim, vdbl, temp; // channels 6, 7, 5
    std::optional<int> current;           // charge (10) or discharge (11) current
    std::optional<int> vbat;              // 13, read with the current off
    std::optional<int> vdelta;            // 12 (charge only)
    PollEnd end = PollEnd::Done;
};

// The flags the measurement shares with its window: the delay flag (set by Timerch2's tick)
// and the discharge path a charge pulse switched on and has not switched off yet ("Arret"
// and leaving then switch it off first).
struct PulseFlags {
    bool delayDone = false;
    bool dischargeOn = false;
};

// One poll of a charge: clock, supplies, charge current, then (MODE 0) the measurement pulse,
// the delay, the discharge path off, the battery and the delta voltage, and the charge on
// again.
RunSample chargePoll(PollSteps &steps, int mode, PulseFlags &flags);
// One poll of a discharge: clock, supplies, discharge current, the discharge path off for
// the delay and the battery reading, then on again.
RunSample dischargePoll(PollSteps &steps, PulseFlags &flags);
// The charge window's reading of the delta voltage while no run is going: the battery
// grounded for the reading.
RunSample idleDeltaPoll(PollSteps &steps);

} // namespace modes
