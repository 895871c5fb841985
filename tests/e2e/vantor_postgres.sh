#!/usr/bin/env bash
# Two simulated boards, each with its Vantor, sharing one registry on a PostgreSQL server of the
# test's own (--vantor-db postgresql://...): each chip gets an identity of its own, each Vantor
# stores its node's frames, and the CLI lists both nodes and queues a setting that the second
# node's next window takes.
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/../support/servers.sh"
VANTOR="$(dirname "$SIM")/vantor"
pg="$WORK/pg"
trap 'pg_stop "$pg"; rm -rf "$WORK"' EXIT
chmod 755 "$WORK"  # the server runs as nobody when the test runs as root
url=$(pg_start "$pg")

a=$(printf 'provision\nsample\ntx\n' | run_sim "$WORK/a" --vantor-db "$url" --chip-id 0A0A0A0A0A0A0A0A0A0A0A0A --load current=3)
expect_contains "$a" "ok: provision done (uid 0x000001, config.ok yes)" "the first board"
b=$(printf 'provision\nsample\ntx p5\n' | run_sim "$WORK/b" --vantor-db "$url" --chip-id 0B0B0B0B0B0B0B0B0B0B0B0B --load current=7)
expect_contains "$b" "ok: provision done (uid 0x000002, config.ok yes)" "the second board"
nodes=$("$VANTOR" --db "$url" --json nodes | jq -r '"\(.uid) \(.chip_id) \(.state)"')
[ "$nodes" = "0x000001 0A0A0A0A0A0A0A0A0A0A0A0A confirmed
0x000002 0B0B0B0B0B0B0B0B0B0B0B0B confirmed" ] || fail "nodes: $nodes"
[ "$("$VANTOR" --db "$url" --json uplinks 0x000002 --limit 1 | jq -r '"\(.code) \(.verdict) \(.current_a)"')" = "5 accepted 7.021" ] ||
  fail "the second node's reading: $("$VANTOR" --db "$url" uplinks 0x000002 --limit 1)"
[ "$("$VANTOR" --db "$url" queue add 0x000002 tx-power 9)" = "queued #1 for 0x000002: tx-power 9" ] || fail "queue add"
b=$(printf 'tx p5\n' | run_sim "$WORK/b" --vantor-db "$url")
expect_contains "$b" "LoRa RX: applied RXPacket14 (opcode=0x0005), acked" "the setting"
[ "$("$VANTOR" --db "$url" --json queue list | jq -r '"\(.state) \(.reason)"')" = "done Applied" ] || fail "the answer"
echo "vantor_postgres: ok"
