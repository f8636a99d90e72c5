#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds and runs. Usage:
#   Tools/build.sh run    install what is missing, build, print the catalogue through the host
#   Tools/build.sh test   install what is missing, run every test in the checked build and in
#                         the Release build (what ships); fails if either fails
#   Tools/build.sh bench  install what is missing, build, run the benchmark program
#   Tools/build.sh mutants [--check] [filter]  score the tests against Tests/Faults.json (in
#                         build-mutants: a scratch copy of the tree and its checked build)
# BUILD_DIR overrides the build folder (default: build for run and bench; for test, the checked
# build in build-tests and the Release build in build-tests-release, or BUILD_DIR and
# BUILD_DIR-release).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-run}
shift || true

packages=(cmake make g++-mingw-w64-x86-64-posix wine wine64 googletest nlohmann-json3-dev python3-jsonschema)
install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Each build folder has its own Wine prefix, so that registry changes of tests stay there.
start_wine() {
    export WINEPREFIX="$1/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" TZ="${TZ:-UTC}"
    unset DISPLAY
    [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
    # A server of our own for the whole run; its services start here, outside CTest's pipes.
    # A server still there (wineboot's, or one the runner started) is not persistent: it shuts
    # down whenever no program runs, between two tests, and each test then races a server and
    # its services starting beside it. Wait for it to end (seconds; a minute at most) first.
    local tries=0
    until wineserver -p </dev/null >/dev/null 2>&1; do
        [ $((tries += 1)) -le 2 ] || { echo "build.sh: another Wine server keeps $WINEPREFIX" >&2; return 0; }
        timeout 70 wineserver -w </dev/null >/dev/null 2>&1 || true
    done
    trap 'wineserver -k 2>/dev/null || true' EXIT
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

configure_and_build() {
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/Toolchain-mingw64.cmake" "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}

install_missing
case "$mode" in
run)
    dir=${BUILD_DIR:-$root/build}
    configure_and_build "$dir" -DZELKOR_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
    start_wine "$dir"
    cd "$dir/bin" && wine TrevalicHost.exe "$@"
    ;;
test)
    dir=${BUILD_DIR:-$root/build-tests}
    failed=0
    for config in checked release; do
        if [ $config = checked ]; then
            configure_and_build "$dir" -DZELKOR_CHECKED=ON
        else
            dir=$dir-release
            configure_and_build "$dir" -DZELKOR_CHECKED=OFF -DCMAKE_BUILD_TYPE=Release
        fi
        echo "== tests of the $config build ($dir)"
        # One Wine server per build folder, stopped before the next one starts.
        ( start_wine "$dir" && ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" "$@" ) || failed=1
    done
    exit $failed
    ;;
mutants)
    dir=${BUILD_DIR:-$root/build-mutants}
    if [ "${1:-}" = --check ]; then
        exec python3 "$root/Tools/mutants.py" --root "$root" "$@"
    fi
    mkdir -p "$dir/build"
    start_wine "$dir/build"
    python3 "$root/Tools/mutants.py" --root "$root" --work "$dir" "$@"
    ;;
bench)
    dir=${BUILD_DIR:-$root/build}
    configure_and_build "$dir" -DZELKOR_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
    start_wine "$dir"
    cd "$dir/bin" && wine ZelkorBench.exe "$@"
    ;;
*)
    echo "usage: $0 run|test|bench|mutants [arguments]" >&2
    exit 2
    ;;
esac
