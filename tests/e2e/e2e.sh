#!/usr/bin/env bash
# End-to-end check of the real program on a real X server, as a new user sees it:
# Xvfb with a window manager, a tray host and a D-Bus session; the executable is
# copied into a fresh directory. Every wait polls with a timeout; no fixed sleep
# decides a result. Screenshots of the three pages go to the given directory.
#
# Usage (under xvfb-run): e2e.sh <path-to-jotterel> <screenshot-dir>
set -euo pipefail

EXE=$1
SHOTS=$2
WORK=$(mktemp -d)
mkdir -p "$SHOTS"
export XDG_RUNTIME_DIR=$WORK/runtime XDG_CONFIG_HOME=$WORK/config XDG_DATA_HOME=$WORK/data
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
cp "$EXE" "$WORK/jotterel"
cp "$(dirname "$EXE")/home.html" "$WORK/" 2>/dev/null || true
DB=$WORK/bookkeep.dat
HELPERS=()
APP=

fail() {
    echo "FAIL: $*"
    import -window root "$SHOTS/failure.png" 2>/dev/null || true
    exit 1
}
# Every helper is ended, also when one of them has ended already: a helper
# left running holds the test's output open and the test never ends.
cleanup() {
    set +e
    [ -n "$APP" ] && kill "$APP" 2>/dev/null
    for p in "${HELPERS[@]}"; do kill "$p" 2>/dev/null; done
    [ -n "${DBUS_SESSION_BUS_PID:-}" ] && kill "$DBUS_SESSION_BUS_PID" 2>/dev/null
    rm -rf "$WORK"
    return 0
}
trap cleanup EXIT

# shellcheck source=tests/support/desktop.sh
source "$(dirname "$0")/../support/desktop.sh"
sql() { sqlite3 -cmd '.timeout 5000' "$DB" "$1"; }
# Whether a query's answer is (or, with "!=", is not) the given value; read
# anew on every poll.
sql_is() { [ "$(sql "$1")" "${3:-=}" "$2" ]; }
tray_icon() {
    local panel
    panel=$(xdotool search --name '^panel$' | head -n1) || return 1
    xwininfo -tree -id "$panel" | awk '/"Jotterel"/{print $1}' | head -n1
}
tray_icon_present() { [ -n "$(tray_icon)" ]; }
tray_icon_absent() { [ -z "$(tray_icon)" ]; }
window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1; }
window_named_shown() { [ -n "$(window_named "$1")" ]; }
note_is() { [ "$(sql "select ReMark from NoteBook where TypeID=0")" = "$1" ]; }
app_ended() { ! kill -0 "$APP" 2>/dev/null; }
# Clicks at a point relative to a window's top-left corner.
click_in() { xdotool mousemove --window "$1" "$2" "$3" click "${4:-1}"; }
ole_day() { echo $((($(date -d "$(date -d "@$1" +%F) UTC" +%s) - $(date -d '1899-12-30 UTC' +%s)) / 86400)); }

start_app() {
    (cd "$WORK" && exec ./jotterel) &
    APP=$!
    wait_for 30 main_window_shown || fail "the main window did not appear"
    MAIN=$(main_window)
    timeout 10 xdotool windowactivate --sync "$MAIN" 2>/dev/null || true
}
# Closes the main window, answers Yes, and checks the exit status and the icon.
close_app() {
    # The window manager's close (Alt+F4 in openbox) asks the window politely.
    # Under load the key can reach the window before openbox has made it
    # active (just after a dialog closed), so it is tried again while no
    # question has appeared.
    local try
    for try in 1 2 3; do
        timeout 10 xdotool windowactivate --sync "$MAIN" 2>/dev/null || true
        xdotool key alt+F4
        wait_for 5 window_named_shown "确认" && break
    done
    window_named_shown "确认" || fail "no exit question"
    xdotool key alt+y
    # The program ends within seconds; a hang is a failure, not a wait.
    wait_for 30 app_ended || fail "the program did not end after Yes"
    local status=0
    wait "$APP" || status=$?
    APP=
    [ "$status" = 0 ] || fail "the program ended with status $status"
    wait_for 10 tray_icon_absent || fail "the tray icon stayed after the program ended"
}

# A dialog's frame offers closing only, under openbox too.
closing_only() {
    local actions
    actions=$(xprop -id "$1" _NET_WM_ALLOWED_ACTIONS)
    ! grep -qE 'MINIMIZE|MAXIMIZE' <<<"$actions" || fail "a dialog can be minimised or maximised: $actions"
}

eval "$(dbus-launch --sh-syntax)"
# The window manager, waited for (and started again should it die early)
# before any window appears: a window mapped before it would have no frame
# and no Alt+F4.
WM=
wm_up() {
    if ! kill -0 "$WM" 2>/dev/null; then
        openbox >>"$WORK/openbox.log" 2>&1 &
        WM=$!
        HELPERS+=($WM)
    fi
    xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'
}
wait_for 30 wm_up || { cat "$WORK/openbox.log" 2>/dev/null; fail "no window manager"; }
# The tray host, started again should it die before its panel appears (it
# can, while the window manager is still coming up).
TRAYER=
tray_host_up() {
    if ! kill -0 "$TRAYER" 2>/dev/null; then
        trayer --edge top --align right --widthtype request --height 24 --SetDockType true --transparent false \
            >>"$WORK/trayer.log" 2>&1 &
        TRAYER=$!
        HELPERS+=($TRAYER)
    fi
    xdotool search --name '^panel$'
}
wait_for 30 tray_host_up || { cat "$WORK/trayer.log" 2>/dev/null; fail "no tray host"; }

echo "1. first start: the window, the database beside the copy, the tray icon"
start_app
[ -s "$DB" ] || fail "bookkeep.dat was not created beside the program"
wait_for 10 tray_icon_present || fail "no tray icon"

echo "2. text typed into the notepad is in NoteBook after the keystrokes"
MEMO_X=500 MEMO_Y=200
click_in "$MAIN" $MEMO_X $MEMO_Y
xdotool type --delay 40 "hello"
wait_for 10 note_is "hello" || fail "typed text not in NoteBook: $(sql 'select ReMark from NoteBook')"

echo "3. a group added through the note tree's menu and its dialog is in NoteType"
click_in "$MAIN" 60 38 3 # right-click on the root of the note tree
sleep 0.5                # let the menu open
xdotool key --delay 100 Down Return
wait_for 10 window_named_shown "新建组" || fail "the group name dialog did not open"
closing_only "$(window_named "新建组")"
xdotool type --delay 40 "work"
xdotool key Return
wait_for 10 sql_is "select count(*) from NoteType where TypeName='work'" 1 ||
    fail "the new group is not in NoteType"

echo "6. closing asks; Yes ends the program with status 0 and the tray icon is gone"
close_app

echo "   data for the pages, and a reminder due a few seconds after the restart"
TODAY=$(ole_day "$(date +%s)")
# The notepad's picture gets a group of its own, below "work": the keys the
# checks type go elsewhere, so its note reads as the user's.
sql "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (2,0,'周计划');
     insert into IEType(SelfIndex,ParentIndex,TypeName) values (1,0,'新闻'); insert into IEType(SelfIndex,ParentIndex,TypeName) values (2,0,'工具');
     insert into IE(TypeID,IEUrl,IEName,ReMark) values (1,'https://www.debian.org','Debian','通用操作系统');
     insert into IE(TypeID,IEUrl,IEName,ReMark) values (2,'https://www.sqlite.org','SQLite','嵌入式数据库');
     insert into IE(TypeID,IEUrl,IEName,ReMark) values (2,'https://www.qt.io','Qt','界面工具包');
     insert into Alam(AlamTime,ReMark,AlamDate) values (8.5/24, '每天早上的站会', $TODAY);
     insert into Alam(AlamTime,AlamDate,ReDay,ReMark) values (1/86400.0, $TODAY, 0, '凌晨的提醒');
     insert into Alam(AlamTime,AlamDate,ReDay,ReMark) values (86399/86400.0, $TODAY, 0, '今天晚上给家里打电话')"
DUE=$(date -d '+20 seconds' +%s)
SECS=$((10#$(date -d "@$DUE" +%H) * 3600 + 10#$(date -d "@$DUE" +%M) * 60 + 10#$(date -d "@$DUE" +%S)))
sql "insert into Alam(AlamTime,AlamDate,ReDay,ReMark) values ($SECS/86400.0, $(ole_day "$DUE"), 0, 'e2e reminder')"

echo "2. after a restart the last group comes back, and the root's memo shows the text typed before"
start_app
click_in "$MAIN" $MEMO_X $MEMO_Y
xdotool type --delay 40 "?"
wait_for 10 sql_is "select ReMark from NoteBook where TypeID=(select SelfIndex from NoteType where TypeName='work')" "?" ||
    fail "the group of the last run did not come back: $(sql 'select TypeID, ReMark from NoteBook')"
click_in "$MAIN" 60 38 # the root of the note tree
click_in "$MAIN" $MEMO_X $MEMO_Y
xdotool key ctrl+End
xdotool type --delay 40 "!"
wait_for 10 note_is "hello!" || fail "the memo did not show the saved text: $(sql 'select ReMark from NoteBook')"

echo "4. the reminder opens the alert window at the bottom right at its second; 看到了并保留 marks it seen"
wait_for 30 window_named_shown "提醒" || fail "the alert did not open"
[ "$(date +%s)" -ge "$DUE" ] || fail "the alert opened before its second"
ALERT=$(window_named "提醒")
# It appears without taking the keyboard: the memo keeps the keys, and it
# can be neither maximised nor lost by minimising.
[ "$(xdotool getactivewindow)" = "$MAIN" ] || fail "the alert took the focus from the main window"
xdotool type --delay 40 "?"
wait_for 10 note_is "hello!?" || fail "a key typed after the alert opened missed the memo: $(sql 'select ReMark from NoteBook')"
! xprop -id "$ALERT" _NET_WM_ALLOWED_ACTIONS | grep -q 'MAXIMIZE' ||
    fail "the alert can be maximised: $(xprop -id "$ALERT" _NET_WM_ALLOWED_ACTIONS)"
# Openbox offers minimising whatever the window asks for: the alert comes back.
timeout 10 xdotool windowminimize --sync "$ALERT" || fail "the alert could not be minimised"
wait_for 10 window_named_shown "提醒" || fail "a minimised alert did not come back"
eval "$(xdotool getwindowgeometry --shell "$ALERT")"
SCREEN=$(xdpyinfo | awk '/dimensions:/{print $2}')
SCREEN_W=${SCREEN%x*} SCREEN_H=${SCREEN#*x}
[ $((X + WIDTH)) -ge $((SCREEN_W - 20)) ] && [ $((Y + HEIGHT)) -ge $((SCREEN_H - 80)) ] ||
    fail "the alert is not at the bottom right: ${WIDTH}x${HEIGHT}+${X}+${Y} on ${SCREEN}"
# The right button; clicked again only while the alert is still open, as a
# click can fall into the moment the window manager maps it back.
for try in 1 2 3; do
    click_in "$ALERT" $((WIDTH * 3 / 4)) $((HEIGHT - 17))
    wait_for 3 sql_is "select bLook from Alam where ReMark='e2e reminder'" 0 "!=" && break
    window_named_shown "提醒" || break
done
wait_for 10 sql_is "select bLook from Alam where ReMark='e2e reminder'" 0 "!=" ||
    fail "看到了并保留 did not mark the reminder seen"

echo "   screenshots of the three pages"
timeout 10 xdotool windowactivate --sync "$MAIN" 2>/dev/null || true
click_in "$MAIN" 60 78 # the group "周计划", below "work"
click_in "$MAIN" $MEMO_X $MEMO_Y
xdotool type --delay 20 "Monday: release notes, review the backup."
xdotool key Return
xdotool type --delay 20 "Friday: team lunch."
wait_for 10 sql_is "select count(*) from NoteBook where TypeID=2 and ReMark like 'Monday:%team lunch.'" 1 ||
    fail "the note of the group 周计划 is not what was typed: $(sql 'select TypeID, ReMark from NoteBook')"
import -window "$MAIN" "$SHOTS/notepad.png"
xdotool key ctrl+Tab
sleep 0.5
import -window "$MAIN" "$SHOTS/reminders.png"
xdotool key ctrl+Tab
sleep 0.5
import -window "$MAIN" "$SHOTS/bookmarks.png"

echo "5. minimising hides the window into the tray; a double-click on the icon brings it back"
xdotool windowminimize "$MAIN"
wait_for 10 main_window_hidden || fail "the window did not hide"
xdotool mousemove --window "$(tray_icon)" 10 10 click --repeat 2 --delay 80 1
wait_for 10 main_window_shown || fail "a double-click on the tray icon did not bring the window back"
MAIN=$(main_window)

echo "6. closing asks; Yes ends the program with status 0 and the tray icon is gone"
close_app

echo "7. on a StatusNotifier tray the icon is an item on the session bus; a single click (Activate) brings the window back"
ITEMS=$WORK/sni-items
/usr/bin/python3 "$(dirname "$0")/snwatcher.py" "$ITEMS" &
HELPERS+=($!)
has_owner() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q 'boolean true'
}
wait_for 10 has_owner org.kde.StatusNotifierWatcher || fail "the StatusNotifierWatcher stand-in did not start"
start_app
wait_for 10 test -s "$ITEMS" || fail "the program did not register its item with the StatusNotifierWatcher"
ITEM=$(head -n1 "$ITEMS")
tray_icon_absent || fail "the icon went to the XEmbed tray although a StatusNotifierWatcher runs"
xdotool windowminimize "$MAIN"
wait_for 10 main_window_hidden || fail "the window did not hide into the StatusNotifier tray"
dbus-send --session --type=method_call --dest="$ITEM" /StatusNotifierItem org.kde.StatusNotifierItem.Activate \
    int32:0 int32:0
wait_for 10 main_window_shown || fail "a click on the StatusNotifier item did not bring the window back"
MAIN=$(main_window)
close_app
! has_owner "$ITEM" || fail "the StatusNotifier item stayed after the program ended"
echo "8. stopped (as in sleep) across a reminder's second for longer than the catch-up window: on waking one window"
echo "   错过的提醒 lists it, no alert opens, and 看到了并保留 marks it seen"
# The catch-up window is lowered to 3 seconds for this run, so the stop lasts
# seconds, not minutes.
DUE=$(date -d '+8 seconds' +%s)
SECS=$((10#$(date -d "@$DUE" +%H) * 3600 + 10#$(date -d "@$DUE" +%M) * 60 + 10#$(date -d "@$DUE" +%S)))
sql "insert into Alam(AlamTime,AlamDate,ReDay,ReMark) values ($SECS/86400.0, $(ole_day "$DUE"), 0, 'e2e missed')"
START=$(date +%s)
export JOTTEREL_CATCH_UP_SECONDS=3
start_app
unset JOTTEREL_CATCH_UP_SECONDS
wait_for 10 sql_is "select LastChecked >= $START from SysSet" 1 ||
    fail "the checked second is not kept in SysSet: $(sql 'select LastChecked from SysSet')"
[ "$(date +%s)" -lt "$DUE" ] || fail "the start took too long to stop the program before the reminder's second"
kill -STOP "$APP"
past_due() { [ "$(date +%s)" -gt $((DUE + 5)) ]; }
wait_for 30 past_due
kill -CONT "$APP"
wait_for 15 window_named_shown "错过的提醒" || fail "no window 错过的提醒 after the stop"
! window_named_shown "提醒" || fail "an alert opened for the missed reminder"
MISSED=$(window_named "错过的提醒")
closing_only "$MISSED"
eval "$(xdotool getwindowgeometry --shell "$MISSED")"
for try in 1 2 3; do
    click_in "$MISSED" 50 $((HEIGHT - 22))          # 全部选中
    click_in "$MISSED" $((WIDTH - 60)) $((HEIGHT - 22)) # 看到了并保留
    wait_for 3 sql_is "select bLook from Alam where ReMark='e2e missed'" 0 "!=" && break
done
wait_for 10 sql_is "select bLook from Alam where ReMark='e2e missed'" 0 "!=" ||
    fail "看到了并保留 in the missed window did not mark the reminder seen"
wait_for 10 test -z "$(window_named "错过的提醒")" || fail "the missed window stayed open once answered"

echo "9. quick capture and --agenda: the command line and the session bus hand over to the running program;"
echo "   --toggle hides the window in front and brings it back; without the program the data file takes it"
OUT=$(cd "$WORK" && ./jotterel --note "e2e 记一笔" --group work) || fail "--note was refused: $OUT"
[[ "$OUT" == *"e2e 记一笔"* ]] || fail "--note did not say what it added: $OUT"
wait_for 5 sql_is "select count(*) from NoteBook where ReMark like '%e2e 记一笔'" 1 || fail "--note did not reach the note"
(cd "$WORK" && ./jotterel --remind "明天 9:00 e2e 开会") || fail "--remind was refused"
sql_is "select count(*) from Alam where ReMark='e2e 开会'" 1 || fail "--remind added no reminder"
! (cd "$WORK" && ./jotterel --remind "乱七八糟" 2>/dev/null) || fail "unreadable words were taken as a reminder"
agenda_lists_the_meeting()
{
    local agenda
    agenda=$(cd "$WORK" && ./jotterel --agenda 2) || fail "--agenda was refused ($1): $agenda"
    grep -qE $'^[0-9]{4}-[0-9]{2}-[0-9]{2} 周. 09:00\te2e 开会$' <<<"$agenda" ||
        fail "--agenda did not list the reminder ($1): $agenda"
}
agenda_lists_the_meeting "handed to the running program"
dbus-send --session --print-reply --dest=io.github.jotterel.Jotterel /io/github/jotterel/Jotterel \
    io.github.jotterel.Capture.AddBookmark string:https://e2e.example string:E2E string:新闻 >/dev/null ||
    fail "AddBookmark on the session bus failed"
sql_is "select count(*) from IE where IEName='E2E' and TypeID=1" 1 || fail "the bus's bookmark is not in its group"
timeout 10 xdotool windowactivate --sync "$MAIN" 2>/dev/null || true
(cd "$WORK" && ./jotterel --toggle) || fail "--toggle failed"
wait_for 10 main_window_hidden || fail "--toggle did not hide the window in front"
(cd "$WORK" && ./jotterel --toggle) || fail "--toggle failed"
wait_for 10 main_window_shown || fail "--toggle did not bring the hidden window back"
MAIN=$(main_window)
close_app
(cd "$WORK" && ./jotterel --note "e2e 离线") || fail "--note without the program was refused"
sql_is "select count(*) from NoteBook where TypeID=0 and ReMark like '%e2e 离线'" 1 || fail "--note without the program wrote nothing"
agenda_lists_the_meeting "from the data file"
echo "e2e: 9 passed, 0 failed"
