#!/usr/bin/env bash
# Builds the Debian package from a build tree, installs it into a scratch root with
# dpkg and checks what landed there: the package's fields and Qt dependencies, the
# programs and their links, the desktop entry and icon, the translations, that the
# installed programs start, and that firmware files a user added to the program
# folder survive an upgrade and a removal of the package.
#
#   scripts/check-package.sh [BUILD_DIR]      (default: build)
#
# Run by ctest as the test "package" (label "package"). Prints the package's name and
# size. Leaves nothing behind; KEEP_PACKAGE_DIR=dir copies the .deb there first.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build}" && pwd)

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
check() { # description, command...
    local what=$1
    shift
    if "$@" >/dev/null 2>&1; then
        echo "ok: $what"
    else
        fail "$what"
    fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/sablefold-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

# --- build the package --------------------------------------------------------------
if ! (cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1); then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack could not build the package" >&2
    exit 1
fi
debs=("$work"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "FAIL: expected one .deb in $work/out, found: ${debs[*]}" >&2
    exit 1
fi
deb=${debs[0]}
if [ -n "${KEEP_PACKAGE_DIR:-}" ]; then
    mkdir -p "$KEEP_PACKAGE_DIR" && cp "$deb" "$KEEP_PACKAGE_DIR/"
fi

field() { dpkg-deb -f "$deb" "$1"; }
version=$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes," \
     "installed size $(field Installed-Size) KiB"

# --- control fields -----------------------------------------------------------------
[ "$(field Package)" = sablefold-controller ] || fail "Package field is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version field '$(field Version)' differs from the project's $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture field is '$(field Architecture)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer field"
depends=$(field Depends)
echo "Depends: $depends"
# The programs link Qt's Core, Gui, Widgets, SerialPort and Network libraries; each
# must come in through its runtime package with a version bound.
for qt_package in libqt5core5a libqt5gui5 libqt5widgets5 libqt5serialport5 libqt5network5; do
    grep -Eq "(^|, )${qt_package}(:[a-z0-9]+)? \(>= [^)]+\)" <<<"$depends" \
        || fail "Depends lacks $qt_package with a version"
done
grep -Eq '(^|, )libc6 ' <<<"$depends" || fail "Depends lacks libc6"
# Build-only packages must not be required on the user's machine.
if grep -Eq -- '-dev\b|libbenchmark|libasan|libubsan' <<<"$depends"; then
    fail "Depends names a build-only package"
fi

# Every file in the archive is root's and nothing is writable by others.
if dpkg-deb -c "$deb" | awk '$2 != "root/root" { bad = 1 } END { exit !bad }'; then
    fail "files not owned by root/root"
fi
if dpkg-deb -c "$deb" | awk 'substr($1, 9, 1) == "w" && substr($1, 1, 1) != "l" { bad = 1 } END { exit !bad }'; then
    fail "world-writable files in the package"
fi

# --- the dependencies resolve on a machine that has nothing -------------------------
# apt, told that no package at all is installed, works out what a fresh machine would
# have to fetch for this package: Qt's runtime must be among it. Needs the package
# lists (apt-get update); without them the check is skipped.
# (Output captured first: grep -q stopping early would fail the pipe under pipefail.)
policy=$(apt-cache policy libqt5core5a 2>/dev/null || true)
if command -v apt-get >/dev/null && grep -q 'Candidate: [0-9]' <<<"$policy"; then
    : >"$work/empty-status"
    if apt-get -o Dir::State::status="$work/empty-status" install --simulate --no-install-recommends "$deb" \
        >"$work/apt.log" 2>&1; then
        pulled=$(sed -n 's/^Inst \([^ ]*\) .*/\1/p' "$work/apt.log")
        echo "ok: on a bare machine apt would install $(wc -l <<<"$pulled") packages for it"
        for qt_package in libqt5core5a libqt5gui5 libqt5widgets5 libqt5serialport5 libqt5network5; do
            grep -qx "$qt_package" <<<"$pulled" || fail "apt would not bring in $qt_package"
        done
    else
        fail "apt cannot resolve the package's dependencies: $(grep -E '^(E:| )' "$work/apt.log" | head -5)"
    fi
else
    echo "skip: no apt package lists to resolve the dependencies against (apt-get update)"
fi

# --- install into a scratch root with dpkg ------------------------------------------
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg_root=(dpkg --root="$root" --log=/dev/null --force-depends --force-script-chrootless)
if [ "$(id -u)" -ne 0 ]; then
    dpkg_root+=(--force-not-root)
fi
if ! "${dpkg_root[@]}" --install "$deb" >"$work/dpkg.log" 2>&1; then
    cat "$work/dpkg.log" >&2
    echo "FAIL: dpkg could not install the package into $root" >&2
    exit 1
fi
check "dpkg records the package as installed" \
    grep -qx 'Status: install ok installed' <(sed -n '/^Package: sablefold-controller$/,/^$/p' "$root/var/lib/dpkg/status")

programs=(sablefold-controller sablefold-cli sablefold-demo kipsim)
program_dir=usr/lib/sablefold
for program in "${programs[@]}"; do
    target=$root/$program_dir/$program
    check "$program_dir/$program is an executable ELF file" \
        bash -c '[ -x "$1" ] && [ "$(head -c 4 "$1" | od -An -c | tr -d " ")" = "177ELF" ]' _ "$target"
    link=$root/usr/bin/$program
    check "usr/bin/$program is a relative link to ../lib/sablefold/$program" \
        bash -c '[ -L "$1" ] && [ "$(readlink "$1")" = "$2" ] && [ "$(readlink -f "$1")" = "$(readlink -f "$3")" ]' \
        _ "$link" "../lib/sablefold/$program" "$target"
    # Programs built in the tree find their libraries there; installed ones must not.
    dynamic=$(readelf -d "$target" 2>&1 || true)
    if grep -Eq 'RPATH|RUNPATH' <<<"$dynamic"; then
        fail "$program carries a library search path: $(grep -E 'RPATH|RUNPATH' <<<"$dynamic")"
    fi
    if grep -q '\.debug_info' <<<"$(readelf -S "$target" 2>&1 || true)"; then
        fail "$program is not stripped"
    fi
done

desktop=$root/usr/share/applications/sablefold-controller.desktop
check "desktop entry installed" test -f "$desktop"
if command -v desktop-file-validate >/dev/null; then
    if ! desktop-file-validate "$desktop" >"$work/validate.log" 2>&1 || [ -s "$work/validate.log" ]; then
        fail "desktop-file-validate: $(cat "$work/validate.log")"
    else
        echo "ok: desktop entry validates"
    fi
else
    echo "skip: desktop-file-validate not installed (package desktop-file-utils)"
fi
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
check "desktop entry starts a program in usr/bin ($exec_name)" test -x "$root/usr/bin/$exec_name"
check "scalable icon $icon_name.svg is an SVG" \
    grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/$icon_name.svg"
check "48x48 icon $icon_name.png is a PNG" \
    bash -c '[ "$(head -c 8 "$1" | od -An -tx1 | tr -d " \n")" = "89504e470d0a1a0a" ]' \
    _ "$root/usr/share/icons/hicolor/48x48/apps/$icon_name.png"

# A compiled Qt catalogue starts with this magic number.
qm=$root/usr/share/sablefold/translations/sablefold_en.qm
check "English catalogue sablefold_en.qm is a Qt translation file" \
    bash -c '[ "$(head -c 16 "$1" | od -An -tx1 | tr -d " \n")" = "3cb86418caef9c95cd211cbf60a1bddd" ]' _ "$qm"
check "the controller finds the catalogue from its folder" \
    test -f "$root/$program_dir/../../share/sablefold/translations/sablefold_en.qm"
check "user documentation installed" test -s "$root/usr/share/doc/sablefold-controller/README.md"
check "program folder explains the firmware files" grep -q quorix_kip "$root/$program_dir/README.txt"

# --- the installed programs start ----------------------------------------------------
# They use the machine's Qt, as they would on the user's machine. Settings go to a
# scratch home so that no real settings are read or written.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
check "installed kipsim answers --help" bash -c '"$1" --help | grep -q card-type' _ "$root/usr/bin/kipsim"
# The command-line controller needs no display at all.
check "installed sablefold-cli answers --help without a display" \
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM bash -c '"$1" --help | grep -q sync-source' _ "$root/usr/bin/sablefold-cli"
# The controller has no way to quit on its own: it counts as started when it is still
# running after two seconds (timeout's 124), not when it has exited with an error.
status=0
timeout 2 "$root/usr/bin/sablefold-controller" >"$work/controller.log" 2>&1 || status=$?
if [ "$status" -eq 124 ]; then
    echo "ok: installed controller starts and keeps running"
else
    fail "installed controller exited with $status: $(head -5 "$work/controller.log")"
fi

# Started through its link in usr/bin, a program must look for firmware files in the
# program folder, not in usr/bin. The demo's simulated MADI card in KIP 1 makes it look
# for quorix_kip_madi.bin as soon as the card has answered; strace shows where.
if command -v strace >/dev/null; then
    # strace blocks fatal signals while it runs a program (-o FILE PROG), so the demo is
    # stopped through timeout, which passes a TERM on and ends it after 20 s anyway.
    strace -f -e trace=%file -o "$work/strace.log" \
        timeout 20 "$root/usr/bin/sablefold-demo" --still >/dev/null 2>&1 &
    tracer=$!
    for _ in $(seq 1 150); do
        grep -q 'quorix_kip_madi\.bin' "$work/strace.log" 2>/dev/null && break
        sleep 0.1
    done
    for child in $(pgrep -P "$tracer" || true); do
        kill "$child" 2>/dev/null || true
    done
    wait "$tracer" 2>/dev/null || true
    looked=$(grep -o '"[^"]*quorix_kip_madi\.bin"' "$work/strace.log" | sort -u | tr '\n' ' ')
    if [ "$looked" = "\"$root/$program_dir/quorix_kip_madi.bin\" " ]; then
        echo "ok: started through usr/bin, the demo looks for firmware in $program_dir"
    else
        fail "the demo started through usr/bin looked for quorix_kip_madi.bin at: ${looked:-nowhere within 15 s}"
    fi
else
    echo "skip: strace not installed; where the installed programs look for firmware is not checked"
fi

# --- user firmware files survive upgrade and removal --------------------------------
firmware=$root/$program_dir/quorix_kip_madi.bin
printf 'user firmware\n' >"$firmware"
if "${dpkg_root[@]}" --install "$deb" >>"$work/dpkg.log" 2>&1; then
    check "a firmware file added to the program folder survives reinstalling the package" \
        grep -qx 'user firmware' "$firmware"
else
    fail "reinstalling the package failed: $(tail -3 "$work/dpkg.log")"
fi
if "${dpkg_root[@]}" --remove sablefold-controller >>"$work/dpkg.log" 2>&1; then
    check "removing the package removes its programs" test ! -e "$root/$program_dir/sablefold-controller"
    check "removing the package removes its links" test ! -L "$root/usr/bin/sablefold-controller"
    check "a firmware file added to the program folder survives removing the package" \
        grep -qx 'user firmware' "$firmware"
else
    fail "removing the package failed: $(tail -3 "$work/dpkg.log")"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures package check(s) failed" >&2
    exit 1
fi
echo "package checks passed"
