#!/usr/bin/env bash
# A piped script: blank lines print nothing, the echo starts at the first non-blank character,
# unknown commands are refused, quoted names work, and the simulator exits 0 at end of input.
source "$(dirname "$0")/lib/common.sh"

out="$(printf 'help\n   \n  bogus\n"help"\n' | "$SIM" --speed 0 --state "$WORK/s")" || fail "exit status $?"

# Everything from the first command block on, byte for byte.
help_block=$(printf '%s' "commands:
  help                  this list
  info                  identity, calibration and power state
  compileInfo           HW revision, LoRa radio and gstate/MCUState toggles
  sample [full|hp|lp]   one acquisition + RMS + phase + power (default full)
  every <n> <sec>       repeat the last sample mode n times, sec apart
  print <what>          adc|rms|power|csv|rtc|prov|adcinfo|vref|temp|soc
  set <var> <value>     phase <rad> | uid <hex> | hmacHash <hex> | clampMapping <i> <in> <out>
  save                  commit staged config to flash
  unprovision           erase config flash (fresh-install state) then reset
  provision             LoRa P10 assign+confirm (blocking until done)
  tx [pN|debug]         nothing = production path; else p3|p7|p8|p9|p10|debug
  tx p5 [ms]            packet 5 (= p3 + 'I listen now') at 14 dBm, then listen 250+
  tx raw [-n] <hex>     arbitrary payload, max 90 B; -n skips CSMA (Vantor will drop it)
  radio on              power the LoRa interface and init it ('pin lora off' cuts it)
  rx <ms>               open a LoRa listen window
  dbg1 <on> <off> <tot> square wave on dbg1 (ms)
  pin <name> on|off     stage1|optohp|lora
  sleep <sec>           STANDBY 1..65535 s; wake is a RESET back into this shell
  reset                 immediate software reset
note: 'set phase' is live for the next 'sample'; 'save' only to survive a sleep
ok: help" | sed 's/$/\r/')
rule=$'##########################\r'
expected="$rule
> help"$'\r\n\r\n\r'"
$help_block
$rule
$rule
> bogus"$'\r\n\r\n\r'"
err: unknown command (try 'help')"$'\r'"
$rule
$rule
> \"help\""$'\r\n\r\n\r'"
$help_block
$rule"

tail_part="${out#*ok: help$'\r\n'}"   # drop the start-up output (banner, build line, help)
[ "$tail_part" == "$expected" ] || {
  diff <(printf '%s' "$tail_part" | cat -A) <(printf '%s\n' "$expected" | cat -A) >&2 || true
  fail "transcript differs"
}

# Start-up: banner, build identity, ready, help.
expect_contains "$out" "=== Orvane demo shell ===" "banner"
grep -qE '^git rev: [0-9a-f]{7}  dirty: (dirty|clean)  built: [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z'$'\r''$' <<<"$out" ||
  fail "build identity line"
expect_contains "$out" $'ready\r' "ready line"
echo "shell framing: ok"
