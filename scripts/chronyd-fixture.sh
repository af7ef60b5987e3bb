#!/usr/bin/env bash
# A real chronyd serving NTP on 127.0.0.1 (or ADDRESS, e.g. ::1) at a free
# port (or PORT, so that servers on several addresses share one), for the
# system tests.
#   chronyd-fixture.sh start DIR [ADDRESS [PORT]]
#                                  writes DIR/chrony.conf, starts chronyd, waits
#                                  until it answers, writes the port to DIR/port
#   chronyd-fixture.sh stop DIR    ends the chronyd started there
#   chronyd-fixture.sh start-many DIR ADDRESS...
#                                  one chronyd per ADDRESS, all on one port
#                                  (DIR/port), in DIR/1, DIR/2, ...
#   chronyd-fixture.sh stop-many DIR
# CHRONY_EXTRA, when set, is one more line of the configuration (a
# ratelimit, say).
# chronyd runs with -x (it never touches the clock) and -d (in the foreground,
# logging to DIR/chronyd.log), detached so that the caller does not wait for it.
set -euo pipefail

CHRONYD=${CHRONYD:-/usr/sbin/chronyd}

usage() {
    echo "usage: $0 start DIR [ADDRESS [PORT]] | stop DIR | start-many DIR ADDRESS... | stop-many DIR" >&2
    exit 2
}

# True when nothing has UDP port $1 (decimal) open, on any address.
port_is_free() {
    local hex
    hex=$(printf ':%04X ' "$1")
    ! grep -qs -- "$hex" /proc/net/udp /proc/net/udp6
}

pick_free_port() {
    local port tries
    for tries in $(seq 1 50); do
        port=$((20000 + RANDOM % 40000))
        if port_is_free "$port"; then
            echo "$port"
            return 0
        fi
    done
    echo "no free UDP port found" >&2
    return 1
}

write_config() {
    local dir="$1" port="$2" address="$3" clients="$3"
    # Requests to any 127.x address leave from 127.0.0.1.
    case "$address" in 127.*) clients=127.0.0.0/8 ;; esac
    cat >"$dir/chrony.conf" <<EOF
port $port
bindaddress $address
allow $clients
local stratum 3
cmdport 0
bindcmdaddress /
pidfile $dir/chronyd.pid
${CHRONY_EXTRA:-}
EOF
}

# One NTP client request (version 3, mode 3) to $2 port $1; true when a
# 48-byte answer comes back within a second.
answers() {
    local reply request='\x1b'
    request+=$(printf '\\x00%.0s' $(seq 1 47))
    reply=$(
        exec 2>/dev/null
        exec 3<>"/dev/udp/$2/$1" || exit 1
        printf "$request" >&3 # one write, so one datagram
        timeout 1 head -c 48 <&3 | od -An -v -tx1 | wc -w
    ) || return 1
    [ "${reply:-0}" -eq 48 ]
}

# As root chronyd would drop to its own user and then could not remove the
# pidfile here; staying root changes nothing else. Not as root, -U lets it
# start under the caller's user, which is enough for a port above 1023.
user_options() {
    if [ "$(id -u)" -eq 0 ]; then
        echo "-u root"
    else
        echo "-U -u $(id -un)"
    fi
}

start() {
    local dir="$1" address="${2:-127.0.0.1}" port="${3:-}" pid
    stop "$dir" 2>/dev/null || true
    mkdir -p "$dir"
    rm -f "$dir/port"
    [ -n "$port" ] || port=$(pick_free_port)
    write_config "$dir" "$port" "$address"
    # shellcheck disable=SC2046
    setsid "$CHRONYD" -x -d $(user_options) -f "$dir/chrony.conf" \
        </dev/null >"$dir/chronyd.log" 2>&1 &
    pid=$!
    echo "$pid" >"$dir/launcher.pid"
    for _ in $(seq 1 40); do
        if answers "$port" "$address"; then
            echo "$port" >"$dir/port"
            echo "chronyd (pid $pid) serves NTP on $address port $port"
            return 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        sleep 0.25
    done
    echo "chronyd did not answer on $address port $port; its log:" >&2
    cat "$dir/chronyd.log" >&2 || true
    stop "$dir" || true
    return 1
}

stop_pid_file() {
    local file="$1" pid
    [ -f "$file" ] || return 0
    pid=$(cat "$file")
    rm -f "$file"
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 20); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
}

stop() {
    local dir="$1"
    stop_pid_file "$dir/chronyd.pid"
    stop_pid_file "$dir/launcher.pid"
    rm -f "$dir/port"
}

start_many() {
    local dir="$1" n=0 port=""
    shift
    stop_many "$dir"
    mkdir -p "$dir"
    for address in "$@"; do
        n=$((n + 1))
        start "$dir/$n" "$address" "$port" || return 1
        port=$(cat "$dir/$n/port")
    done
    echo "$port" >"$dir/port"
}

stop_many() {
    local sub
    for sub in "$1"/*/; do
        [ -d "$sub" ] && stop "${sub%/}"
    done
    rm -f "$1/port"
}

case "$1:$#" in
start:2 | start:3 | start:4) start "$2" "${3:-}" "${4:-}" ;;
stop:2) stop "$2" ;;
start-many:[3-9] | start-many:[1-9][0-9]) start_many "${@:2}" ;;
stop-many:2) stop_many "$2" ;;
*) usage ;;
esac
