#!/usr/bin/env bash
# check-package.sh BUILD_DIR [CPACK]
# Makes the Debian package of BUILD_DIR (as `make package` does) in a temporary directory and runs Debian's own
# checker, lintian, on it: an error fails the check. Skipped (77) where lintian is not installed.
set -euo pipefail

build=$1
cpack=${2:-cpack}

if ! command -v lintian >/dev/null; then
    echo "lintian is not installed: the package is not checked"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    exit 1
}
package=$(find "$work" -maxdepth 1 -name 'jotterel_*.deb' | head -n 1)
[ -n "$package" ] || {
    echo "FAIL: cpack made no package" >&2
    exit 1
}
# Every tag is printed; only errors fail.
if ! lintian --tag-display-limit 0 --fail-on error "$package"; then
    echo "FAIL: lintian found errors in $(basename "$package")" >&2
    exit 1
fi
echo "$(basename "$package"): no lintian errors"
