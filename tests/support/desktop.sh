# Helpers of the checks that drive the real program on an X server; sourced.

# Polls a command until it succeeds, for at most $1 seconds.
wait_for() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@" >/dev/null 2>&1; do
        [ $SECONDS -ge $end ] && return 1
        sleep 0.1
    done
}
# The main window (the tray icon's window carries the same name but is small).
main_window() {
    xdotool search --onlyvisible --name '^Jotterel$' 2>/dev/null | while read -r w; do
        [ "$(xwininfo -id "$w" | awk '/Width:/{print $2}')" -gt 100 ] && echo "$w"
    done | head -n1
}
main_window_shown() { [ -n "$(main_window)" ]; }
main_window_hidden() { [ -z "$(main_window)" ]; }
