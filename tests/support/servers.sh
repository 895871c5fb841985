#!/usr/bin/env bash
# Servers the Vantor's tests talk to, each a real one from Debian, started in a folder of the test's
# own on a free loopback port and stopped after it:
#
#   servers.sh pg-start DIR [PORT]  PostgreSQL in DIR (again on its data when DIR holds one); prints
#                                   its URL (postgresql://vantor@127.0.0.1:PORT/postgres)
#   servers.sh pg-stop DIR
#   servers.sh mqtt-start DIR [PORT]  Mosquitto in DIR (persistent sessions kept in DIR); prints its URL (mqtt://127.0.0.1:PORT)
#   servers.sh mqtt-stop DIR
#
# PostgreSQL refuses to run as root: as root, its programs run as the unprivileged user `nobody`
# (setpriv), and DIR is handed to that user. Source the file to use the functions in a script.
set -euo pipefail

# A TCP port nobody listens on now.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

pg_bin() {
  local dir
  for dir in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
    [ -x "$dir/pg_ctl" ] && { echo "$dir"; return 0; }
  done
  command -v pg_ctl >/dev/null && { dirname "$(command -v pg_ctl)"; return 0; }
  echo "servers.sh: PostgreSQL is not installed (tools/install-deps.sh host)" >&2
  return 1
}

# as_owner CMD...: CMD as the user that owns the server's files.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env -- "$@"
  else
    "$@"
  fi
}

# A cluster made once and copied for each server: initdb takes most of a start.
pg_template() {
  local bin="$1" template made
  template="${TMPDIR:-/tmp}/orvane-pg-template-$(basename "$(dirname "$bin")")"
  if [ ! -f "$template/PG_VERSION" ]; then
    made="$(mktemp -d "${TMPDIR:-/tmp}/orvane-pg-making.XXXXXX")"
    chmod 755 "$made"
    [ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$made"
    as_owner "$bin/initdb" -D "$made/data" -U vantor --auth=trust --no-sync -E UTF8 --locale=C >"$made/initdb.log" 2>&1 ||
      { cat "$made/initdb.log" >&2; rm -rf "$made"; return 1; }
    # Another test may have made it meanwhile: the first one in stays.
    mv -T "$made/data" "$template" 2>/dev/null || true
    rm -rf "$made"
  fi
  echo "$template"
}

pg_start() {
  local dir="$1" port="${2:-}" bin template
  bin="$(pg_bin)"
  mkdir -p "$dir"
  [ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$dir"
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    template="$(pg_template "$bin")"
    as_owner cp -a "$template" "$dir/data"
  fi
  [ -n "$port" ] || port="$(free_port)"
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/data/server.log" -w -t 60 \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
    start >/dev/null || { cat "$dir/data/server.log" >&2; return 1; }
  echo "postgresql://vantor@127.0.0.1:$port/postgres"
}

pg_stop() {
  local dir="$1" bin
  bin="$(pg_bin)"
  [ -f "$dir/data/postmaster.pid" ] && as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
}

mqtt_start() {
  local dir="$1" port="${2:-}"
  [ -n "$port" ] || port="$(free_port)"
  mkdir -p "$dir"
  [ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$dir"
  cat >"$dir/mosquitto.conf" <<EOF
listener $port 127.0.0.1
allow_anonymous true
persistence true
persistence_location $dir/
pid_file $dir/mosquitto.pid
log_dest file $dir/mosquitto.log
log_type error
log_type warning
log_type notice
EOF
  [ "$(id -u)" -eq 0 ] && echo "user nobody" >>"$dir/mosquitto.conf"
  /usr/sbin/mosquitto -c "$dir/mosquitto.conf" -d
  # Ready once it accepts connections.
  local i
  for i in $(seq 1 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2).close()" 2>/dev/null && break
    sleep 0.05
  done
  echo "mqtt://127.0.0.1:$port"
}

mqtt_stop() {
  local dir="$1" pid
  [ -f "$dir/mosquitto.pid" ] || return 0
  pid="$(cat "$dir/mosquitto.pid")"
  kill "$pid" 2>/dev/null || true
  # Gone once its pid is free (it saves its persistent sessions first).
  local i
  for i in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  rm -f "$dir/mosquitto.pid"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    pg-start) pg_start "$2" "${3:-}" ;;
    pg-stop) pg_stop "$2" ;;
    mqtt-start) mqtt_start "$2" "${3:-}" ;;
    mqtt-stop) mqtt_stop "$2" ;;
    *) echo "usage: servers.sh pg-start|pg-stop|mqtt-start|mqtt-stop DIR" >&2; exit 2 ;;
  esac
fi
