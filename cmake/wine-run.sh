#!/bin/sh
# Runs one Windows program under Wine for CTest and the build.
: "${WINEDEBUG:=-all}"; export WINEDEBUG
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"; export WINEDLLOVERRIDES
export TZ="${TEST_TZ:-${TZ:-UTC}}"   # Wine takes its time zone from TZ
unset DISPLAY                        # a message box must never wait for a click
# Wine's services inherit the stdio of the process that starts them; start them here with
# /dev/null so that CTest never waits on a pipe they keep open. Exit 0 means a new server.
if wineserver -p60 </dev/null >/dev/null 2>&1; then wine cmd /c exit </dev/null >/dev/null 2>&1; fi
exec wine "$@"
