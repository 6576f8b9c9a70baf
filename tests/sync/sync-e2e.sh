#!/usr/bin/env bash
# End-to-end check of sync between two computers, played by two copies of the
# program in their own directories, each with its own data file, and two
# Syncthing daemons that carry the shared folder between them. Both programs
# run with their windows on one X server (Xvfb with openbox and a D-Bus
# session); keys and clicks go to each window found by its PID. Every wait
# polls with a timeout; no fixed sleep decides a result.
#
# Usage (under xvfb-run): sync-e2e.sh <path-to-jotterel> [screenshot-dir]
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: $0 <path-to-jotterel> [screenshot-dir]" >&2; exit 2; }
EXE=$(realpath "$1")
HERE=$(cd "$(dirname "$0")" && pwd)
SHOTS=${2:-$(dirname "$EXE")/screenshots}
WORK=$(mktemp -d)
mkdir -p "$SHOTS"
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
# How long a change may take from one program to the other: the writer's
# pause after a change, Syncthing's watcher and transfer, the reader's pause
# after a delivery.
SYNC_TIMEOUT=${SYNC_TIMEOUT:-30}
HELPERS=()
declare -A APP_PID=() WINDOW=() FOLDER=()
T0=$EPOCHREALTIME

# shellcheck source=tests/sync/syncthing-pair.sh
source "$HERE/syncthing-pair.sh"

step() { echo "[$(pair_ms_since "$T0") ms] $*"; }

fail() {
    echo "FAIL: $*"
    import -window root "$SHOTS/sync-failure.png" 2>/dev/null && echo "  screenshot: $SHOTS/sync-failure.png"
    local side
    for side in "${!APP_PID[@]}"; do
        [ -s "$WORK/$side.log" ] || continue
        echo "  last lines of program $side:"
        tail -n 15 "$WORK/$side.log" | sed 's/^/    /'
    done
    exit 1
}
cleanup() {
    set +e
    local pid
    for pid in "${APP_PID[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${APP_PID[@]}"; do wait "$pid" 2>/dev/null; done
    pair_stop
    for pid in "${HELPERS[@]}"; do kill "$pid" 2>/dev/null; done
    [ -n "${DBUS_SESSION_BUS_PID:-}" ] && kill "$DBUS_SESSION_BUS_PID" 2>/dev/null
    rm -rf "$WORK"
    return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A query on the data file of the program in directory $1.
sql() { sqlite3 -cmd '.timeout 5000' "$WORK/$1/bookkeep.dat" "$2"; }
# The text is in the root's note itself, not in a conflict copy beside it.
note_has() { [ "$(sql "$1" "select count(*) from NoteBook where TypeID=0 and ReMark like '%$2%'")" != 0 ]; }
group_count() { sql "$1" "select count(*) from NoteType where TypeName='$2'"; }
group_count_is() { [ "$(group_count "$1" "$2")" = "$3" ]; }
window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1; }
window_named_shown() { [ -n "$(window_named "$1")" ]; }
click_in() { xdotool mousemove --window "$1" "$2" "$3" click "${4:-1}"; }

# The main window of the program in directory $1 (a tray icon's window of the
# same process is small).
main_window_of() {
    local w
    for w in $(xdotool search --all --onlyvisible --pid "${APP_PID[$1]}" --name '^Jotterel$' 2>/dev/null); do
        [ "$(xwininfo -id "$w" | awk '/Width:/{print $2}')" -gt 100 ] && { echo "$w"; return 0; }
    done
    return 1
}
activate() { timeout 10 xdotool windowactivate --sync "${WINDOW[$1]}" 2>/dev/null || true; }

# Makes directory $1 a computer of its own: the program and its page.
install_copy() {
    mkdir -p "$WORK/$1/config" "$WORK/$1/data"
    cp "$EXE" "$WORK/$1/jotterel"
    cp "$(dirname "$EXE")/home.html" "$WORK/$1/" 2>/dev/null || true
}
# Runs the program of directory $1 on the command line with the rest of the
# arguments, stdin from the caller; prints what it said. A program that does
# not take the option starts with its window instead: offscreen, so that it
# takes no keys meant for the others, and ended by the timeout (status 124).
run_cli() {
    local side=$1
    shift
    (cd "$WORK/$side" && XDG_CONFIG_HOME=$WORK/$side/config XDG_DATA_HOME=$WORK/$side/data \
        QT_QPA_PLATFORM=offscreen timeout 30 ./jotterel "$@" 2>&1)
}
# Joins the program of directory $1 to the folder $2, with the passphrase
# $3 when one is given.
join() {
    local side=$1 dir=$2 out status=0
    if [ -n "${3:-}" ]; then
        out=$(printf '%s\n' "$3" | run_cli "$side" --sync-folder "$dir" --sync-passphrase) || status=$?
    else
        out=$(run_cli "$side" --sync-folder "$dir" </dev/null) || status=$?
    fi
    [ "$status" != 124 ] || fail "--sync-folder in $side did not end within 30 s: this jotterel takes no --sync-folder?"
    [ "$status" = 0 ] || fail "--sync-folder in $side ended with status $status: $out"
    [ -z "$out" ] || sed "s/^/  $side: /" <<<"$out"
}
start_app() {
    local side=$1
    (cd "$WORK/$side" && XDG_CONFIG_HOME=$WORK/$side/config XDG_DATA_HOME=$WORK/$side/data \
        exec ./jotterel >"$WORK/$side.log" 2>&1) &
    APP_PID[$side]=$!
    wait_for 30 main_window_of "$side" || fail "the main window of program $side did not appear"
    WINDOW[$side]=$(main_window_of "$side")
}
# Whether folder $1 holds every file that folder $2 holds.
holds_files() {
    local f
    for f in "$2"/*; do [ ! -e "$f" ] || [ -e "$1/${f##*/}" ] || return 1; done
}
# Waits until a change made in program $2 holds in program $3 (the rest of
# the arguments test that). On a timeout asks both for a round by hand, the
# writer first, so that the failure says whose timer or which leg is at fault.
wait_synced() {
    local what=$1 from=$2 to=$3 start=$EPOCHREALTIME
    shift 3
    wait_for "$SYNC_TIMEOUT" "$@" && { echo "  $what: $(pair_ms_since "$start") ms"; return 0; }
    local sent applied files
    sent=$(run_cli "$from" --sync-now </dev/null 2>&1) || sent="status $?: $sent"
    files=$(ls -A "${FOLDER[$from]}" | tr '\n' ' ')
    # What the writer's round wrote needs Syncthing's transfer first.
    wait_for 10 holds_files "${FOLDER[$to]}" "${FOLDER[$from]}" || true
    applied=$(run_cli "$to" --sync-now </dev/null 2>&1) || applied="status $?: $applied"
    wait_for 5 "$@" && fail "$what: not by itself within ${SYNC_TIMEOUT} s, only after --sync-now in $from ($sent) and $to ($applied)"
    fail "$what: not within ${SYNC_TIMEOUT} s, nor after --sync-now in $from ($sent) and $to ($applied);" \
        "$from's side of the folder: $files; $to's side: $(ls -A "${FOLDER[$to]}" | tr '\n' ' ')"
}

# Joins programs $1 and $2 to their sides of the shared folder's subfolder
# $3 (the first writes the header, the second joins once it has it) and
# starts both.
join_and_start() {
    local first=$1 second=$2 sub=$3 pass=${4:-}
    FOLDER[$first]=$DIR_A/$sub
    FOLDER[$second]=$DIR_B/$sub
    mkdir -p "${FOLDER[$first]}"
    join "$first" "${FOLDER[$first]}" "$pass"
    [ -e "${FOLDER[$first]}/jotterel-sync.json" ] || fail "--sync-folder in $first wrote no jotterel-sync.json"
    local start=$EPOCHREALTIME
    pair_wait_file "${FOLDER[$second]}" jotterel-sync.json "$SYNC_TIMEOUT" ||
        fail "the header did not reach the other side of the folder"
    echo "  the header reached $second's side: $(pair_ms_since "$start") ms"
    join "$second" "${FOLDER[$second]}" "$pass"
    start_app "$first"
    start_app "$second"
}

# Types text $2 into the root group's memo of program $1.
type_note() {
    activate "$1"
    click_in "${WINDOW[$1]}" 60 38 # the root of the note tree
    click_in "${WINDOW[$1]}" 500 200
    xdotool key ctrl+End
    xdotool type --delay 40 "$2"
    wait_for 10 note_has "$1" "$2" || fail "the text typed into $1 is not in its NoteBook: $(sql "$1" 'select ReMark from NoteBook')"
}
# Adds a group named $2 under the root in program $1's note tree.
add_group() {
    activate "$1"
    click_in "${WINDOW[$1]}" 60 38
    xdotool key ctrl+n
    wait_for 10 window_named_shown "新建组" || fail "Ctrl+N in $1's note tree opened no 新建组"
    xdotool type --delay 40 "$2"
    xdotool key Return
    wait_for 10 group_count_is "$1" "$2" 1 || fail "the new group is not in $1's NoteType"
}
# Deletes the first group under the root (named $2) in program $1.
delete_group() {
    activate "$1"
    click_in "${WINDOW[$1]}" 80 58
    xdotool key Delete
    wait_for 10 window_named_shown "确认" || fail "Delete in $1's note tree asked nothing"
    xdotool key alt+y
    wait_for 10 group_count_is "$1" "$2" 0 ||
        fail "the group $2 is still in $1's NoteType after the delete (its trash holds $(sql "$1" 'select count(*) from Trash'))"
}
app_ended() { ! kill -0 "${APP_PID[$1]}" 2>/dev/null; }
# Ends the programs as a user does: the window's close (Alt+F4 in openbox),
# then Yes; each must end with status 0, its last writes done.
stop_apps() {
    local side status
    for side in "$@"; do
        for _ in 1 2 3; do
            activate "$side"
            xdotool key alt+F4
            wait_for 5 window_named_shown "确认" && break
        done
        window_named_shown "确认" || fail "closing program $side asked nothing"
        xdotool key alt+y
        wait_for 30 app_ended "$side" || fail "program $side did not end after Yes"
        status=0
        wait "${APP_PID[$side]}" || status=$?
        unset "APP_PID[$side]"
        [ "$status" = 0 ] || fail "program $side ended with status $status"
    done
}

[ -n "${DISPLAY:-}" ] || fail "no X display: run it under xvfb-run"
command -v syncthing >/dev/null || fail "syncthing is not installed (scripts/install-deps.sh installs it)"
"$EXE" --help 2>&1 | grep -q -- '--sync-folder' || echo "note: jotterel --help does not name --sync-folder"

eval "$(dbus-launch --sh-syntax)"
WM=
wm_up() {
    if ! kill -0 "$WM" 2>/dev/null; then
        openbox >>"$WORK/openbox.log" 2>&1 &
        WM=$!
        HELPERS+=("$WM")
    fi
    xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'
}
wait_for 30 wm_up || fail "no window manager"

step "two Syncthing daemons sharing one folder"
pair_start || fail "the Syncthing pair did not start"
for side in A B A2 B2 C; do install_copy $side; done

step "1. A and B join the plain folder and start"
join_and_start A B plain
NOTE="sync note $RANDOM"
step "2. a note typed in A reaches B's NoteBook"
type_note A "$NOTE"
wait_synced "A's note in B" A B note_has B "$NOTE"

jsync_files() { find "$1" -maxdepth 1 -regextype posix-extended -regex '.*/jotterel-[0-9a-f]{16}-[0-9]+(\.state)?\.jsync'; }
[ -n "$(jsync_files "${FOLDER[B]}")" ] ||
    fail "no jotterel-<16 hex>-<seq>.jsync in B's side of the folder: $(ls -a "${FOLDER[B]}" | tr '\n' ' ')"

step "3. a group made in B reaches A's NoteType"
GROUP="synced$RANDOM"
add_group B "$GROUP"
wait_synced "B's group in A" B A group_count_is A "$GROUP" 1

step "4. the group deleted in B goes from A's NoteType"
delete_group B "$GROUP"
wait_synced "the delete in A" B A group_count_is A "$GROUP" 0

step "5. both windows type into the root's note at once; both end with every character, in order, and no copy"
# Each begins a line of its own at the end, then both go on typing in turns
# faster than a round carries a change: each memo merges the other's line
# while its own caret stays on its own.
for side in A B; do
    activate "$side"
    click_in "${WINDOW[$side]}" 60 38
    click_in "${WINDOW[$side]}" 500 200
    xdotool key ctrl+End Return
    xdotool type --delay 1 "$side:"
done
for chunk in 1 2 3 4 5 6; do
    for side in A B; do
        activate "$side"
        xdotool type --delay 30 "${side,,}${chunk}x "
    done
done
TYPED_A="A:a1x a2x a3x a4x a5x a6x"
TYPED_B="B:b1x b2x b3x b4x b5x b6x"
both_typed() { note_has "$1" "$TYPED_A" && note_has "$1" "$TYPED_B"; }
wait_synced "A's typing in B" A B both_typed B
wait_synced "B's typing in A" B A both_typed A
for side in A B; do
    [ "$(sql "$side" "select count(*) from NoteType where TypeName like '%冲突副本%'")" = 0 ] ||
        fail "a conflict copy in $side: $(sql "$side" 'select TypeName from NoteType')"
    [ "$(sql "$side" "select count(*) from NoteBook where TypeID=0 and ReMark like '%【冲突】%'")" = 0 ] ||
        echo "  note: $side marks a conflict: $(sql "$side" "select replace(replace(ReMark, char(13), ''), char(10), ' | ') from NoteBook where TypeID=0")"
done
stop_apps A B
# With no program running a round runs headless.
OUT=$(run_cli A --sync-now </dev/null) || fail "--sync-now in A without its program ended with status $?: $OUT"
sed 's/^/  --sync-now in A: /' <<<"$OUT"

step "6. with a passphrase the folder holds none of the typed texts, and no other passphrase opens it"
join_and_start A2 B2 secret "pass phrase $RANDOM"
SECRET="secret note $RANDOM"
SECRET_GROUP="hidden$RANDOM"
type_note A2 "$SECRET"
add_group A2 "$SECRET_GROUP"
wait_synced "A2's note in B2" A2 B2 note_has B2 "$SECRET"
wait_synced "A2's group in B2" A2 B2 group_count_is B2 "$SECRET_GROUP" 1
[ -n "$(jsync_files "$DIR_A/secret")" ] || fail "no .jsync files in the folder with a passphrase"
for text in "$SECRET" "$SECRET_GROUP"; do
    ! grep -r -q -F -- "$text" "$DIR_A/secret" "$DIR_B/secret" ||
        fail "the folder with a passphrase holds the typed text \"$text\" readable: $(grep -r -l -F -- "$text" "$DIR_A/secret" "$DIR_B/secret")"
done
stop_apps A2 B2
# A third computer gets in with the passphrase only.
for pass in "wrong $RANDOM" ""; do
    status=0
    if [ -n "$pass" ]; then
        what="a wrong passphrase"
        OUT=$(printf '%s\n' "$pass" | run_cli C --sync-folder "$DIR_B/secret" --sync-passphrase) || status=$?
    else
        what="no passphrase"
        OUT=$(run_cli C --sync-folder "$DIR_B/secret" </dev/null) || status=$?
    fi
    [ "$status" != 0 ] && [ "$status" != 124 ] || fail "--sync-folder with $what ended with status $status: $OUT"
    sed "s/^/  $what refused: /" <<<"$OUT"
done

step "sync-e2e: 6 passed, 0 failed"
