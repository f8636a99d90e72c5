#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds and runs. Usage:
#   Tools/build.sh run    install what is missing, build, print the catalogue through the host
#   Tools/build.sh test   install what is missing, run every test in the checked build and in
#                         the Release build of the compiler that builds what ships, and in the
#                         Release build of the other compiler; fails if any run fails
#   Tools/build.sh bench  install what is missing, build, run the benchmark program
#   Tools/build.sh lint   clang-tidy over Zelkor/ and Trevalic/ (Clang configuration, build-lint),
#                         then clang-format --dry-run over the sources; fails on any finding
#   Tools/build.sh coverage  install what is missing, run every test in a checked GCC build that
#                         counts executed lines and branches (build-coverage), write the report
#                         (build-coverage/coverage/index.html) and fail below the floor
#   Tools/build.sh mutants [--check] [filter]  score the tests against Tests/Faults/Faults.json (in
#                         build-mutants: a scratch copy of the tree and its checked build)
#   Tools/build.sh mutants --generate N [--seed S] [filter]  score them against N faults drawn
#                         from those the rules make on the lines the last coverage run executed
# BUILD_DIR overrides the build folder (default: build for run and bench; for test, the checked
# build in build-tests, the Release build in build-tests-release and the other compiler's in
# build-tests-gcc-release or build-tests-clang-release, or BUILD_DIR and BUILD_DIR-...).
# COMPILER=gcc or COMPILER=clang builds with that compiler instead of the one that ships.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-run}
shift || true

# What each mode needs: every build both compilers, LLVM's objcopy (it strips the DLL) and the
# JSON parser of the host program; programs run under Wine; the tests add their framework and
# the schema validator; the lint its tools.
build_packages=(cmake make g++-mingw-w64-x86-64-posix clang-14 lld-14 llvm-14 nlohmann-json3-dev)
wine_packages=(wine wine64)
test_packages=(googletest python3-jsonschema)
lint_packages=(clang-tidy-14 clang-format-14)

# GCC builds what ships (README: the benchmark table of both compilers decided it).
shipped=${COMPILER:-gcc}
other=$([ "$shipped" = clang ] && echo gcc || echo clang)
toolchain() {
    case $1 in
    gcc) echo "$root/cmake/Toolchain-mingw64.cmake" ;;
    clang) echo "$root/cmake/Toolchain-mingw64-clang.cmake" ;;
    *) echo "unknown compiler $1 (gcc or clang)" >&2; exit 2 ;;
    esac
}
install_missing() {
    local missing=()
    for p in "$@"; do
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
    # A server that stays for the whole run, with its services started here, outside CTest's
    # pipes; the runner waits for a server that stops on a timer (wineboot's) to end first.
    if ! "$root/cmake/wine-run.sh" --server; then
        echo "build.sh: no Wine server of our own for $WINEPREFIX; end the one there (WINEPREFIX=$WINEPREFIX wineserver -k) and run again" >&2
        return 1
    fi
    trap 'wineserver -k 2>/dev/null || true' EXIT
}

configure() {
    local dir=$1 toolchain
    toolchain=$(toolchain "$2"); shift 2
    # A folder configured for the other compiler starts afresh; CMake cannot switch compilers.
    if [ -f "$dir/CMakeCache.txt" ] && ! grep -qxF "CMAKE_TOOLCHAIN_FILE:FILEPATH=$toolchain" "$dir/CMakeCache.txt"; then
        rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
    fi
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" "$@" >/dev/null
}

configure_and_build() {
    configure "$@"
    cmake --build "$1" -j"$(nproc)"
}

# Builds what ships (Release, no tests) and runs one of its programs under Wine.
run_shipped() {
    install_missing "${build_packages[@]}" "${wine_packages[@]}"
    dir=${BUILD_DIR:-$root/build}
    configure_and_build "$dir" "$shipped" -DZELKOR_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
    start_wine "$dir"
    program=$1
    shift
    cd "$dir/bin" && wine "$program" "$@"
}

case "$mode" in
run)
    run_shipped TrevalicHost.exe "$@"
    ;;
test)
    install_missing "${build_packages[@]}" "${wine_packages[@]}" "${test_packages[@]}"
    base=${BUILD_DIR:-$root/build-tests}
    failed=0
    for config in checked release "$other-release"; do
        case $config in
        checked) dir=$base; configure_and_build "$dir" "$shipped" -DZELKOR_CHECKED=ON ;;
        release) dir=$base-release; configure_and_build "$dir" "$shipped" -DZELKOR_CHECKED=OFF -DCMAKE_BUILD_TYPE=Release ;;
        *) dir=$base-$config; configure_and_build "$dir" "$other" -DZELKOR_CHECKED=OFF -DCMAKE_BUILD_TYPE=Release ;;
        esac
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
    install_missing "${build_packages[@]}" "${wine_packages[@]}" "${test_packages[@]}" ninja-build ccache
    mkdir -p "$dir/build"
    start_wine "$dir/build"
    python3 "$root/Tools/mutants.py" --root "$root" --work "$dir" "$@"
    ;;
coverage)
    # The least coverage CI accepts, in percent of Zelkor/ and Trevalic/: what the suite reached
    # when last raised, rounded down, with a little room for counts that move between runs.
    floor_lines=94 floor_functions=93 floor_branches=82
    install_missing "${build_packages[@]}" "${wine_packages[@]}" "${test_packages[@]}" gcovr
    dir=${BUILD_DIR:-$root/build-coverage}
    configure_and_build "$dir" gcc -DZELKOR_CHECKED=ON -DZELKOR_COVERAGE=ON
    # Counts add up across runs; each report is of one run alone. Programs under Wine write
    # their counts to the object files' absolute paths, which Wine's drive Z: maps to the same.
    find "$dir" -name '*.gcda' -delete
    failed=0
    ( start_wine "$dir" && ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" "$@" ) || failed=1
    report=$dir/coverage
    rm -rf "$report" && mkdir -p "$report"
    # Branches that only throw are the compiler's, one per call that may throw. Counters that
    # threads of one program update at once can still read negative in gcov's output; those
    # lines are skipped rather than failing the report.
    # The counts are searched for in this build folder only, outside its Wine prefix (whose
    # drive Z: is the whole file system).
    gcovr --root "$root" --object-directory "$dir" --filter "$root/Zelkor/" --filter "$root/Trevalic/" \
        --exclude-directories "$dir/wineprefix" \
        --gcov-executable x86_64-w64-mingw32-gcov --exclude-throw-branches --gcov-ignore-parse-errors \
        -j"$(nproc)" --html-details "$report/index.html" --json-summary "$report/summary.json" \
        --json "$report/lines.json" \
        --txt "$report/files.txt" "$dir" 2>"$report/gcovr.log" || { cat "$report/gcovr.log" >&2; exit 1; }
    # A run of some tests only (arguments for CTest) is measured but not held to the floor.
    [ $# -eq 0 ] || floor_lines=0 floor_functions=0 floor_branches=0
    python3 - "$report/summary.json" "$floor_lines" "$floor_functions" "$floor_branches" <<'PY' || failed=1
import json, sys
summary = json.load(open(sys.argv[1]))
measured = [("lines", summary["line_percent"]), ("functions", summary["function_percent"]),
            ("branches", summary["branch_percent"])]
print("coverage: " + ", ".join(f"{name} {value:.1f}%" for name, value in measured))
low = [f"{name} {value:.1f}% < {floor}%" for (name, value), floor in zip(measured, map(float, sys.argv[2:])) if value < floor]
if low:
    sys.exit("coverage below the floor: " + ", ".join(low))
PY
    echo "report: $report/index.html"
    exit $failed
    ;;
bench)
    run_shipped ZelkorBench.exe "$@"
    ;;
lint)
    # The compile database of the Clang configuration; nothing needs building but the generated header.
    install_missing "${build_packages[@]}" "${lint_packages[@]}"
    dir=${BUILD_DIR:-$root/build-lint}
    configure "$dir" clang -DZELKOR_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
    cd "$root"
    failed=0
    git ls-files 'Zelkor/*.cpp' 'Trevalic/*.cpp' |
        xargs -P"$(nproc)" -n4 clang-tidy-14 -p "$dir" --quiet --warnings-as-errors='*' || failed=1
    git ls-files 'Zelkor/*.cpp' 'Zelkor/*.h' 'Trevalic/*.cpp' 'Trevalic/*.h' 'Tools/*.cpp' 'Tools/*.h' \
        'Tests/*.cpp' 'Tests/*.h' | xargs clang-format-14 --dry-run -Werror || failed=1
    exit $failed
    ;;
*)
    echo "usage: $0 run|test|coverage|bench|lint|mutants [arguments]" >&2
    exit 2
    ;;
esac
