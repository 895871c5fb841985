#!/usr/bin/python3
"""The image's fatal-error path ends, on the emulated core, whatever stops answering.

After a normal start the converter stops answering; "print temp" sets it up again, which fails,
and the image enters its fatal-error path: interrupts masked (the millisecond tick stands still),
the converter stopped and de-initialised, the wake-up timer set, standby. With the converter
still silent, every one of those waits must end on its own:
- converter silent: the core goes into standby (deep sleep, standby mode) with interrupts masked;
- converter and wake-up timer silent: standby cannot be armed, so the core asks for a system reset.
Either way within a bounded emulated time, never a loop that waits for the tick.

    fatal_path_test.py IMAGE.elf
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "boot"))
import boot_image  # noqa: E402
from unicorn.arm_const import UC_ARM_REG_PRIMASK  # noqa: E402

SCB_SCR = boot_image.SCS + 0xD10
SLEEPDEEP = 1 << 2
PWR_CR1_LPMS = 7
LPMS_STANDBY = 3
LIMIT_MS = 2000  # emulated; every wait of the path is a few milliseconds at most

FAILURES = []


def check(ok, what):
    if not ok:
        FAILURES.append(what)


class Board(boot_image.Board):
    """Records the state of the core at each WFI: a standby entry is a WFI in deep sleep."""

    def __init__(self, elf):
        super().__init__(elf)
        self.standby = None  # (PRIMASK, PWR_CR1 low-power mode) at the first deep-sleep WFI

    def _wfi(self, uc, address, size, arg):
        if self.standby is None and self.chip.get(SCB_SCR) & SLEEPDEEP:
            self.standby = (uc.reg_read(UC_ARM_REG_PRIMASK) & 1, self.chip.get(boot_image.PWR) & PWR_CR1_LPMS,
                            self.chip.ms)
        super()._wfi(uc, address, size, arg)


def run(elf, silent):
    """Boots, then makes the given peripherals silent and reads the temperature (the
    converter is set up again for it); returns ("standby", state), ("reset", ms) or ("hang", console)
    when neither came within the limit."""
    board = Board(elf)
    chip = board.chip
    try:
        board.run_until(lambda c: b"\nready" in c.console and b"\nnote:" in c.console.split(b"\nready")[-1] and
                        c.console.endswith(b"\n"))
        chip.silent = set(silent)
        board.type_line("print temp\r\n")
        board.run_until(lambda c: board.standby is not None, limit_ms=chip.ms + LIMIT_MS)
    except boot_image.SystemReset:
        return "reset", chip.ms
    except RuntimeError:
        return "hang", chip.console.decode(errors="replace")[-400:]
    return "standby", board.standby


# (peripherals silent, what must end the path)
CASES = [
    ({"adc-stop"}, "standby"),              # the converter never stops or disables
    ({"adc"}, "standby"),                   # nothing of the converter answers
    ({"adc-stop", "rtc-wakeup"}, "reset"),  # and standby cannot be armed
]


def main():
    elf = sys.argv[1]
    for silent, want in CASES:
        name = "+".join(sorted(silent))
        outcome, detail = run(elf, silent)
        check(outcome == want, f"{name} silent: expected {want}, got {outcome}: {detail}")
        if outcome == "standby":
            primask, lpms, ms = detail
            check(primask == 1, f"{name} silent: standby entered with interrupts masked (the fatal-error path)")
            check(lpms == LPMS_STANDBY, f"{name} silent: low-power mode standby (LPMS {LPMS_STANDBY}), got {lpms}")
            print(f"fatal_path_test: {name} silent: standby after {ms} ms emulated")
        elif outcome == "reset":
            print(f"fatal_path_test: {name} silent: system reset after {detail} ms emulated")
    for f in FAILURES:
        print("FAIL:", f)
    sys.exit(1 if FAILURES else 0)


if __name__ == "__main__":
    main()
