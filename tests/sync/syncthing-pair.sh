#!/usr/bin/env bash
# Two Syncthing daemons on this computer that share one folder, as two
# computers would: each has its own home under a temporary directory, its GUI
# and REST API and its sync protocol on free ports of 127.0.0.1, and knows
# the other by device ID and explicit address. Nothing talks to the internet
# or the LAN: discovery, relays, NAT traversal, usage and crash reports and
# upgrades are off.
#
# Sourced:   pair_start [DIR_A DIR_B]   starts both and waits until they are connected
#            pair_wait_file DIR NAME TIMEOUT   polls until DIR/NAME exists
#            pair_stop                  ends both daemons and removes their homes
#   The caller's EXIT trap calls pair_stop; pair_start sets one when the
#   caller has none.
# Alone:     syncthing-pair.sh --selfcheck
#   Both daemons run isolated; a file written on each side appears on the
#   other, and a removal goes across; prints the time each took.

PAIR_HELPER="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/stconfig.py"
PAIR_FOLDER_ID=jotterel-sync
PAIR_HOME=
PAIR_PIDS=()
PAIR_GUI=()
PAIR_KEY=()
PAIR_ID=()
# Seconds to wait for the daemons to answer and to connect to each other.
PAIR_START_TIMEOUT=${PAIR_START_TIMEOUT:-60}

pair_log() { echo "syncthing-pair: $*" >&2; }

# A GET of the REST API of daemon $1 (0 or 1), path $2: prints the JSON.
pair_api() {
    curl -fsS --max-time 5 -H "X-API-Key: ${PAIR_KEY[$1]}" "http://127.0.0.1:${PAIR_GUI[$1]}$2"
}
# Whether the answer of pair_api $1 $2 has the JSON member $3 of value $4.
pair_api_has() { pair_api "$1" "$2" | grep -Eq "\"$3\": *$4"; }

# shellcheck source=tests/support/desktop.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/desktop.sh"

pair_answers() { pair_api_has "$1" /rest/system/ping ping '"pong"'; }
# The daemons know no device but each other, so any connected device is the peer.
pair_connected() { pair_api_has "$1" /rest/system/connections connected true; }
# Whether the shared folder of daemon $1 has been scanned and waits for work.
pair_folder_idle() { pair_api_has "$1" "/rest/db/status?folder=$PAIR_FOLDER_ID" state '"idle"'; }

pair_show_logs() {
    local i
    for i in 0 1; do
        [ -f "$PAIR_HOME/st$i/syncthing.log" ] || continue
        pair_log "last lines of daemon $i's log:"
        tail -n 20 "$PAIR_HOME/st$i/syncthing.log" >&2
    done
}

pair_start() {
    PAIR_HOME=$(mktemp -d "${TMPDIR:-/tmp}/syncthing-pair.XXXXXX")
    trap -p EXIT | grep -q . || trap pair_stop EXIT
    DIR_A=${1:-$PAIR_HOME/folder-a}
    DIR_B=${2:-$PAIR_HOME/folder-b}
    local dirs=("$DIR_A" "$DIR_B") ports i
    mapfile -t ports < <(python3 "$PAIR_HELPER" ports 4)
    # STHASHING picks the hash code at once instead of measuring which is faster.
    export STNODEFAULTFOLDER=1 STNOUPGRADE=1 STNORESTART=1 STHASHING=minio
    for i in 0 1; do
        syncthing generate --home="$PAIR_HOME/st$i" --no-default-folder --skip-port-probing \
            >"$PAIR_HOME/generate$i.log" 2>&1 || { cat "$PAIR_HOME/generate$i.log" >&2; return 1; }
        PAIR_ID[i]=$(syncthing serve --home="$PAIR_HOME/st$i" --device-id)
        PAIR_GUI[i]=${ports[i]}
        PAIR_KEY[i]=$(head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n')
        # The folder marker is made here: Syncthing refuses a folder without it.
        mkdir -p "${dirs[i]}/.stfolder"
    done
    for i in 0 1; do
        python3 "$PAIR_HELPER" configure "$PAIR_HOME/st$i" "${PAIR_GUI[i]}" "${ports[i + 2]}" \
            "${PAIR_KEY[i]}" "${PAIR_ID[1 - i]}" "${ports[3 - i]}" "$PAIR_FOLDER_ID" "${dirs[i]}" || return 1
        syncthing serve --home="$PAIR_HOME/st$i" --no-browser --no-restart --no-upgrade \
            >"$PAIR_HOME/st$i/syncthing.log" 2>&1 &
        PAIR_PIDS[i]=$!
    done
    for i in 0 1; do
        wait_for "$PAIR_START_TIMEOUT" pair_answers $i ||
            { pair_show_logs; pair_log "daemon $i did not answer on 127.0.0.1:${PAIR_GUI[i]}"; return 1; }
    done
    for i in 0 1; do
        wait_for "$PAIR_START_TIMEOUT" pair_connected $i ||
            { pair_show_logs; pair_log "daemon $i did not connect to the other"; return 1; }
        wait_for "$PAIR_START_TIMEOUT" pair_folder_idle $i ||
            { pair_show_logs; pair_log "the shared folder of daemon $i did not become idle"; return 1; }
    done
    export DIR_A DIR_B
}

# Polls until DIR/NAME exists (Syncthing renames a file into place whole),
# for at most TIMEOUT seconds.
pair_wait_file() { wait_for "$3" test -e "$1/$2"; }

# Ends both daemons, politely first, and removes their homes. Safe to call
# twice and when the start failed half way.
pair_stop() {
    local pid end
    for pid in "${PAIR_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${PAIR_PIDS[@]}"; do
        end=$((SECONDS + 10))
        while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $end ]; do sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    PAIR_PIDS=()
    if [ -n "$PAIR_HOME" ]; then rm -rf "$PAIR_HOME"; fi
    PAIR_HOME=
    return 0
}

# Milliseconds since $1, an EPOCHREALTIME.
pair_ms_since() { echo $(((${EPOCHREALTIME/./} - ${1/./}) / 1000)); }

# Writes a file into $1 and waits for the same bytes in $2.
pair_check_direction() {
    local from=$1 to=$2 name=$3 start content
    content="$name $RANDOM$RANDOM"
    start=$EPOCHREALTIME
    printf '%s\n' "$content" >"$from/$name"
    pair_wait_file "$to" "$name" 30 || { pair_show_logs; pair_log "FAIL: $name did not reach $to"; return 1; }
    [ "$(cat "$to/$name")" = "$content" ] || { pair_log "FAIL: $name arrived changed"; return 1; }
    echo "  $name: $(pair_ms_since "$start") ms"
}

# Removes $3 in $1 and waits until it is gone from $2.
pair_check_removal() {
    local from=$1 to=$2 name=$3 start
    start=$EPOCHREALTIME
    rm "$from/$name"
    wait_for 30 test ! -e "$to/$name" || { pair_log "FAIL: the removal of $name did not reach $to"; return 1; }
    echo "  removal of $name: $(pair_ms_since "$start") ms"
}

# Whether both daemons run with the options pair_start gave them: a
# Syncthing that ignored one would talk to the network.
pair_check_isolated() {
    local i wrong
    for i in 0 1; do
        wrong=$(pair_api $i /rest/config/options | python3 "$PAIR_HELPER" isolated) ||
            { pair_log "FAIL: daemon $i: ${wrong//$'\n'/, }"; return 1; }
    done
    echo "  both daemons isolated: no discovery, relays, NAT, reports or upgrades; 127.0.0.1 only"
}

pair_selfcheck() {
    set -euo pipefail
    trap pair_stop EXIT
    trap 'exit 130' INT TERM
    local start=$EPOCHREALTIME
    pair_start
    echo "syncthing-pair: both daemons up and connected in $(pair_ms_since "$start") ms"
    pair_check_isolated
    pair_check_direction "$DIR_A" "$DIR_B" a-to-b.txt
    pair_check_direction "$DIR_B" "$DIR_A" b-to-a.txt
    pair_check_removal "$DIR_A" "$DIR_B" b-to-a.txt
    pair_stop
    echo "syncthing-pair: selfcheck passed in $(pair_ms_since "$start") ms"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    case "${1:-}" in
    --selfcheck) pair_selfcheck ;;
    *)
        echo "usage: $0 --selfcheck   (or source it and call pair_start, pair_wait_file, pair_stop)" >&2
        exit 2
        ;;
    esac
fi
