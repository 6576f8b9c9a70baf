#!/usr/bin/env bash
# The program's three looks on a real X server with a window manager: each is
# chosen with `jotterel --skin NAME`, the program started, and its bookmark
# page photographed. Checks that the look chosen is the one a start shows (浅色
# light, 深色 dark), and puts the three pictures side by side in skins.png.
#
# Usage (under xvfb-run): skin-shots.sh <path-to-jotterel> <screenshot-dir>
set -euo pipefail

EXE=$1
SHOTS=$2
WORK=$(mktemp -d)
mkdir -p "$SHOTS"
export XDG_RUNTIME_DIR=$WORK/runtime XDG_CONFIG_HOME=$WORK/config XDG_DATA_HOME=$WORK/data
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
cp "$EXE" "$WORK/jotterel"
DB=$WORK/bookkeep.dat
APP=
WM=

fail() {
    echo "FAIL: $*"
    exit 1
}
cleanup() {
    set +e
    [ -n "$APP" ] && kill "$APP" 2>/dev/null
    [ -n "$WM" ] && kill "$WM" 2>/dev/null
    [ -n "${DBUS_SESSION_BUS_PID:-}" ] && kill "$DBUS_SESSION_BUS_PID" 2>/dev/null
    rm -rf "$WORK"
    return 0
}
trap cleanup EXIT

# shellcheck source=tests/support/desktop.sh
source "$(dirname "$0")/../support/desktop.sh"
app_ended() { ! kill -0 "$APP" 2>/dev/null; }
# The mean brightness of a picture, 0 (black) to 100 (white).
brightness() { convert "$1" -colorspace Gray -format '%[fx:int(mean*100)]' info:; }

eval "$(dbus-launch --sh-syntax)"
# The window manager, started again should it die early (it can while the
# X server is still coming up).
wm_up() {
    if [ -z "$WM" ] || ! kill -0 "$WM" 2>/dev/null; then
        openbox >>"$WORK/openbox.log" 2>&1 &
        WM=$!
    fi
    xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'
}
wait_for 30 wm_up || { cat "$WORK/openbox.log" 2>/dev/null; fail "no window manager"; }

# The data file, made by the first --skin, with a few groups and bookmarks.
(cd "$WORK" && ./jotterel --skin 跟随系统 >/dev/null) || fail "--skin 跟随系统 was refused"
sqlite3 "$DB" "insert into IEType(SelfIndex,ParentIndex,TypeName) values (1,0,'常用'),(2,1,'新闻'),(3,0,'工作');
insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'工作'),(2,1,'周计划');
insert into IE(TypeID,IEUrl,IEName,ReMark) values
 (1,'https://www.example.com/','示例网站','常去'),(1,'https://news.example.org/','今日新闻',''),
 (1,'https://docs.example.net/manual','使用手册','第三章'),(1,'https://mail.example.com/','邮箱',''),
 (1,'https://map.example.com/','地图','');"

for skin in system:跟随系统 light:浅色 dark:深色; do
    file=${skin%%:*}
    name=${skin#*:}
    echo "   $name"
    (cd "$WORK" && ./jotterel --skin "$name") || fail "--skin $name was refused"
    (cd "$WORK" && exec ./jotterel) &
    APP=$!
    wait_for 30 main_window_shown || fail "the main window did not appear ($name)"
    MAIN=$(main_window)
    timeout 10 xdotool windowactivate --sync "$MAIN" 2>/dev/null || true
    xdotool key ctrl+Tab ctrl+Tab
    sleep 1
    import -window "$MAIN" "$SHOTS/skin-$file.png"
    # Ended without its window's memory written: the next start shows the same page.
    kill "$APP"
    wait_for 30 app_ended || fail "the program did not end ($name)"
    wait "$APP" 2>/dev/null || true
    APP=
done

light=$(brightness "$SHOTS/skin-light.png")
dark=$(brightness "$SHOTS/skin-dark.png")
echo "   brightness: 浅色 $light, 深色 $dark"
[ "$light" -ge 70 ] || fail "浅色 is not light at the start ($light)"
[ "$dark" -le 30 ] || fail "深色 is not dark at the start ($dark)"

# 200 colours without dithering keep the text sharp and the file small.
convert "$SHOTS/skin-system.png" "$SHOTS/skin-light.png" "$SHOTS/skin-dark.png" \
    -bordercolor white -border 6 +append -strip -dither None -colors 200 "$SHOTS/skins.png"
echo "PASS"
