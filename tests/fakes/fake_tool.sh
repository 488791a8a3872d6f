#!/usr/bin/env bash
# A stand-in child process for the runner's tests.
#   FAKE_TOOL_RECORD  file to which each run appends its arguments, one per line, then "--end--"
#   FAKE_TOOL_MODE    what to do after printing "out:" and the arguments on standard output:
#                     ok (exit 0), exit:N, nul (print a NUL byte then more text), crash (kill
#                     itself with SIGKILL), sleep:S (sleep S seconds, then exit 0),
#                     stderr (write to standard error only, exit 0), hang (never exit),
#                     progress (dfu-util's download progress at 0, 52 and 100 %, half a second
#                     apart, then "$FAKE_TOOL_RECORD.ended" is created and it exits 0)
if [ -n "${FAKE_TOOL_RECORD:-}" ]; then
    { for a in "$@"; do printf '%s\n' "$a"; done; echo "--end--"; } >> "$FAKE_TOOL_RECORD"
fi
printf 'out:%s\n' "$*"
mode=${FAKE_TOOL_MODE:-ok}
case "$mode" in
    ok) exit 0 ;;
    exit:*) exit "${mode#exit:}" ;;
    nul) printf 'before\0after\n'; exit 0 ;;
    crash) kill -KILL $$ ;;
    sleep:*) sleep "${mode#sleep:}"; printf 'late\n'; exit 0 ;;
    stderr) echo "dfu-util: only on stderr" >&2; exit 0 ;;
    hang) exec sleep 100000 ;;
    progress)
        printf '\rDownload\t[                         ]   0%%            0 bytes'
        sleep 0.5
        printf '\rDownload\t[=============            ]  52%%       208160 bytes'
        sleep 0.5
        printf '\rDownload\t[=========================] 100%%       400308 bytes\nDownload done.\n'
        : >"$FAKE_TOOL_RECORD.ended"
        exit 0 ;;
esac
exit 3
