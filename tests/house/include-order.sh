#!/usr/bin/env bash
# Fails on an include that runs back up the house: each folder may include its
# own files and those of the floors below it, never a floor above, and a
# capability never includes another of its floor (exchange stands above links).
#   data -> controls -> groups -> {notes, bookmarks, reminders}
#        -> {search, history, sync, capture, links, skins} -> exchange -> app
set -u
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
cd "$root" || exit 2

floor() {
    case $1 in
    data) echo 1 ;; controls) echo 2 ;; groups) echo 3 ;;
    notes | bookmarks | reminders) echo 4 ;;
    search | history | sync | capture | links | skins) echo 5 ;;
    exchange) echo 6 ;; app) echo 7 ;; *) echo 0 ;;
    esac
}

bad=0
for dir in data controls groups notes bookmarks reminders search history sync capture links skins exchange app; do
    [ -d "$dir" ] || continue
    mine=$(floor "$dir")
    while IFS=: read -r file line include; do
        target=${include%%/*}
        [ "$target" = "$dir" ] && continue
        theirs=$(floor "$target")
        [ "$theirs" = 0 ] && continue
        if [ "$theirs" -gt "$mine" ] || { [ "$theirs" = "$mine" ] && [ "$mine" -ge 4 ] && [ "$mine" -le 5 ]; }; then
            echo "$file:$line: includes $include, which runs back up"
            bad=1
        fi
    done < <(grep -HnoE '^#include "[a-z]+/[^"]+' "$dir"/*.h "$dir"/*.cpp 2>/dev/null | sed 's/#include "//')
done
exit $bad
