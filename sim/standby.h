// Standby of the board's core: powered down until the RTC wake-up timer fires, then a start from
// reset with the standby and internal wake-up flags (or for good, without a wake-up source). What
// the simulated board's hardware layer and the emulated chip both do when the core enters standby.
#pragma once

namespace sim {

class Board;

[[noreturn]] void enterStandby(Board& board);

}  // namespace sim
