#!/bin/sh
# Runs one Windows program under Wine for CTest and the build. With --server alone it only makes
# sure the prefix has its server and Wine's services (Tools/build.sh, before a run).
: "${WINEDEBUG:=-all}"; export WINEDEBUG
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"; export WINEDLLOVERRIDES
: "${WINEPREFIX:=$HOME/.wine}"; export WINEPREFIX
export TZ="${TEST_TZ:-${TZ:-UTC}}"   # Wine takes its time zone from TZ
unset DISPLAY                        # a message box must never wait for a click

# Whether the server of this prefix stays until it is stopped: started with -p and no time.
persistent() {
    for pid in $(pgrep -x 'wineserver(64)?'); do
        prefix=$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | sed -n 's/^WINEPREFIX=//p')
        [ "${prefix:-$HOME/.wine}" -ef "$WINEPREFIX" ] || continue
        [ "$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/cmdline" | tail -n 1)" = -p ] && return 0
    done
    return 1
}

# A server that stops on a timer (the one Wine starts by itself, wineboot's, or one started with
# -pN) stops taking programs when its time is up, but holds the prefix while it stops its services
# and saves the registry: a second, or many on a loaded machine. A program that starts then is
# refused; Wine retries for about five seconds, then gives up with status 1 and a line on stderr
# only. `wineserver -p` cannot tell such a server from a live one: both hold the prefix. So every
# program runs beside a server that stays until it is stopped (Tools/build.sh stops it after the
# run; by hand: wineserver -k with the same WINEPREFIX): the first program of a prefix waits for a
# timed server to end and starts one. Wine's services start with it, with /dev/null as stdio, so
# that CTest never waits on a pipe they keep open; the lock keeps a second program from starting
# them first, beside its own pipes.
empty_drive=$(dirname "$WINEPREFIX")/empty-drive
(
    flock 9
    # The lock is on the folder that holds the prefix; the server and the services it outlives
    # must not inherit it.
    [ -f "$WINEPREFIX/system.reg" ] || wineboot -i </dev/null >/dev/null 2>&1 9<&-
    # Drive Y: of a build folder's own prefix is an empty folder beside it: a drive root with
    # nothing to list, which a program under Wine cannot make (Wine makes no symbolic links, and
    # its file calls do not see drives defined through the platform).
    y="$WINEPREFIX/dosdevices/y:"
    if [ "$(basename "$WINEPREFIX")" = wineprefix ] && [ -d "${y%/*}" ] && [ ! -e "$y" ] && [ ! -L "$y" ]; then
        mkdir -p "$empty_drive" && ln -s "$empty_drive" "$y"
    fi
    until persistent; do
        wineserver -p </dev/null >/dev/null 2>&1 9<&-
        case $? in
        0) wine cmd /c exit </dev/null >/dev/null 2>&1 9<&-; break ;;
        2) wineserver -w </dev/null >/dev/null 2>&1 9<&- ;; # another server holds the prefix
        *) break ;; # no prefix to serve: the program then says why
        esac
    done
) 9<"$(dirname "$WINEPREFIX")"
# The tests find that drive by this name.
[ "$WINEPREFIX/dosdevices/y:" -ef "$empty_drive" ] && export ZELKOR_EMPTY_DRIVE='Y:\'
[ "$*" = --server ] && exit 0
# Every program that ends with a non-zero status leaves a line in a file beside the prefix, so
# that one that ends badly without a word still says how (the low byte of its exit code: 5 an
# access violation, 3 an abort, 53 a missing DLL), how long it ran and, for a test program, how
# far it got (the stages it noted in WINE_RUN_MARK); the program's own streams stay its own
# (for a program without a mark, held until it ends: below).
#
# Now and then, among thousands of starts on a loaded machine, Wine gives up on starting a
# program: status 1 without a word, before the program's first initialiser; it ran none of its
# code and wrote nothing, so it is started once more, and the log keeps the line. How long Wine
# takes to give up tells nothing (0.06 s and 0.15 s under load). A test program (the suites'
# shared main) shows it by its empty mark. The other programs run here (the host program and the
# package's consumers) write no mark, but each says something on one of its streams whenever it
# runs: their streams are held until they end, and status 1 with both empty tells it.
run() {
    : >"$mark"
    started=$(date +%s.%N)
    WINE_RUN_MARK="Z:$(printf '%s' "$mark" | tr / '\\')" wine "$@"
    status=$?
    [ $status -eq 0 ] && return # most starts: no clock, no log line
    elapsed=$(awk "BEGIN { print $(date +%s.%N) - $started }")
    printf '%s status %s after %s s, reached: %s: %s\n' "$(date -u +%FT%T)" $status "$elapsed" "$(cat "$mark")" "$*" \
        >>"$(dirname "$WINEPREFIX")/wine-run-failures.log"
}
mark=$(mktemp)
case "$(basename "$1")" in
*Test.exe)
    run "$@"
    if [ $status -eq 1 ] && [ ! -s "$mark" ]; then
        run "$@"
    fi
    ;;
*)
    out=$(mktemp) err=$(mktemp)
    run "$@" >"$out" 2>"$err"
    if [ $status -eq 1 ] && [ ! -s "$out" ] && [ ! -s "$err" ]; then
        run "$@" >"$out" 2>"$err"
    fi
    cat "$out"
    cat "$err" >&2
    rm -f "$out" "$err"
    ;;
esac
rm -f "$mark"
exit $status
