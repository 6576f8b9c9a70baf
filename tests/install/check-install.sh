#!/usr/bin/env bash
# check-install.sh BUILD_DIR SOURCE_DIR [CMAKE]
# Installs BUILD_DIR into a temporary prefix and checks what a desktop needs: the program, a valid desktop entry,
# valid AppStream data, the icon at every size, the home page, the holiday data's source and licence, and nothing
# else. Then starts the installed program
# to see that it keeps its data in the per-user directory, not beside itself.
set -euo pipefail

build=$1
source=$2
cmake=${3:-cmake}
id=io.github.jotterel.Jotterel

work=$(mktemp -d)
program_pid=""
cleanup()
{
    if [ -n "$program_pid" ]; then
        kill "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail()
{
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

# Exactly these files, so that nothing of the build (libraries, tests) leaks into a package.
expected=(
    bin/jotterel
    share/applications/$id.desktop
    share/doc/jotterel/holidays/LICENSE
    share/doc/jotterel/holidays/README.md
    share/jotterel/home.html
    share/metainfo/$id.metainfo.xml
    share/doc/jotterel/copyright
    share/doc/jotterel/changelog.gz
    share/man/man1/jotterel.1.gz
    share/man/zh_CN/man1/jotterel.1.gz
)
for size in 16 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
done
installed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
if [ "$installed" != "$wanted" ]; then
    fail "installed files differ from the expected set:"
    diff <(echo "$wanted") <(echo "$installed") >&2 || true
fi

[ -x "$prefix/bin/jotterel" ] || fail "bin/jotterel is not executable"

entry=$prefix/share/applications/$id.desktop
if ! report=$(desktop-file-validate "$entry" 2>&1) || [ -n "$report" ]; then
    fail "desktop-file-validate: $report"
fi
value()
{
    sed -n "s/^$1=//p" "$entry" | head -n 1
}
[ "$(value Name)" = "Jotterel" ] || fail "Name is '$(value Name)'"
exec_program=$(value Exec | cut -d' ' -f1)
[ -x "$prefix/bin/$exec_program" ] || fail "Exec names '$exec_program', which is not in bin/"
icon=$(value Icon)
for key in GenericName Comment; do
    # The unlocalised texts are the program's own language.
    value "$key" | grep -qP '\p{Han}' || fail "$key holds no Chinese text"
done

for size in 16 32 48 64 128 256; do
    file=$prefix/share/icons/hicolor/${size}x${size}/apps/$icon.png
    if [ ! -f "$file" ]; then
        fail "no ${size}x${size} icon named '$icon'"
    elif [ "$(identify -format '%wx%h' "$file")" != "${size}x${size}" ]; then
        fail "$file is $(identify -format '%wx%h' "$file")"
    fi
done

metainfo=$prefix/share/metainfo/$id.metainfo.xml
if ! report=$(appstreamcli validate --no-net "$metainfo" 2>&1); then
    fail "appstreamcli validate: $report"
fi
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $id.desktop"
if ! report=$(appstreamcli validate-tree --no-net "$prefix" 2>&1); then
    fail "appstreamcli validate-tree: $report"
fi

cmp -s "$source/resources/home.html" "$prefix/share/jotterel/home.html" || fail "home page differs from the source"

# Both manual pages name every option that --help names.
for option in $("$prefix/bin/jotterel" --help | grep -oE -- '--[a-z-]+' | sort -u); do
    for page in man/man1 man/zh_CN/man1; do
        zcat "$prefix/share/$page/jotterel.1.gz" | grep -qF -- "${option//-/\\-}" ||
            fail "the manual page in share/$page does not name $option"
    done
done

# The installed program keeps its database in the per-user data directory even where it could write bin/.
data_home=$work/data
runtime=$work/runtime
mkdir -p "$data_home"
mkdir -m 700 "$runtime"
QT_QPA_PLATFORM=offscreen XDG_DATA_HOME=$data_home XDG_RUNTIME_DIR=$runtime "$prefix/bin/jotterel" >"$work/out.txt" 2>&1 &
program_pid=$!
database=$data_home/Jotterel/bookkeep.dat
for _ in $(seq 300); do
    [ -s "$database" ] && break
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
done
[ -s "$database" ] || fail "the installed program did not create $database: $(cat "$work/out.txt")"
[ -e "$data_home/Jotterel/bookkeep.lock" ] || fail "no lock file beside the per-user database"
kill "$program_pid" 2>/dev/null || true
wait "$program_pid" 2>/dev/null || true
program_pid=""
for stray in "$prefix"/bin/bookkeep.* "$prefix"/bin/Log*.log; do
    if [ -e "$stray" ]; then
        fail "the installed program wrote $stray beside itself"
    fi
done

if [ "$failures" -ne 0 ]; then
    echo "$failures install check(s) failed" >&2
    exit 1
fi
echo "install tree under a temporary prefix: all checks passed"
