#!/usr/bin/env bash
# The headless front end as its users meet it: the real binary on throwaway data folders, logger
# datagrams through bash's /dev/udp. Usage: console_test.sh CORVANE VERSION; says what failed.
set -u
corvane=$1 version=$2 failed=0
work=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2> /dev/null; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/xdg HOME=$work/home # never the user's own folder
check() { "${@:2}" || { echo "FAILED: $1"; failed=1; }; }
has() { grep -qF -- "$2" "$1" 2> /dev/null; }
# Polls until the command succeeds, at most 20 s: the sanitizer builds start slowly.
await() { local end=$((SECONDS + 20)); until "$@"; do ((SECONDS < end)) || return 1; sleep 0.02; done; }
ms() { echo $(($(date +%s%N) / 1000000)); }
# In the background as $pid, ended by force after a minute, so that a hang fails instead.
run() { timeout -s KILL 60 "$corvane" "$@" & pid=$!; }
# The signal to $pid: it must exit with 0 within the bound in milliseconds.
stop() {
  local start=$(ms) code; kill -"$1" "$pid"; wait "$pid"; code=$?
  check "exit 0 on SIG$1, not $code" [ "$code" = 0 ]
  check "SIG$1 answered within $2 ms" [ $(($(ms) - start)) -lt "$2" ]
}
station=$work/station port=$(python3 -c 'import socket; s = socket.socket(type=socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$station" && printf '[vellumar]\nenabled=0\n[udp]\nip=127.0.0.1\nport=%s\n' "$port" > "$station/settings.ini"
send() { printf '%s' "$1" > "/dev/udp/127.0.0.1/$port"; }

# Options answer at once and start nothing: the code, what standard output holds (code 0) or the
# one line on standard error (code 2), the arguments.
while IFS='|' read -r code text arguments; do
  "$corvane" $arguments > "$work/out" 2> "$work/err"
  check "$arguments: exit $code, not $?" [ $? = "$code" ]
  [ "$code" = 2 ] && check "$arguments: $text" [ "$(cat "$work/err")" = "corvane: $text" ]
  [ "$code" = 0 ] && check "$arguments: $text" has "$work/out" "$text"
  check "$arguments: one stream" [ ! -s "$work/out" -o ! -s "$work/err" ]
done <<END
0|Corvane $version|--version
0|  --config-dir DIR|--test-mode --help
2|unknown option '--bogus' (see --help)|--bogus
2|unknown option 'station' (see --help)|--version station
2|--config-dir needs a folder|--config-dir
2|--config-dir needs a folder|--config-dir=
END
check "options make no data folder" [ ! -e "$XDG_CONFIG_HOME" ]

# Test mode's steps about 3 s apart, logger datagrams dropped meanwhile (not even kept on disk),
# and a stop in the middle of a step.
run --config-dir "$station" --test-mode > "$work/demo" 2>&1
check "test mode" await has "$work/demo" "UDP Receiver: Test mode ON — ignoring UDP"
check "first step" await has "$work/demo" "Live Status: Freq (MHz): 14.074 | Band: 20m | Mode: FT8 | Operating: Is calling"
first=$(ms) && send "<RadioInfo><Freq>700000</Freq></RadioInfo>"
check "second step" await has "$work/demo" "Live Status: Freq (MHz): 7.130 | Band: 40m | Mode: SSB | Operating: Is searching | Last worked: QQ1ABC | Contest: CQ WW DX | MyCall: N0CALL | OpCall: TEST | Radio: Test N1MM | Locator: - | Location: -"
check "a step lasts about 3 s" [ $(($(ms) - first)) -gt 2500 -a $(($(ms) - first)) -lt 5000 ]
stop INT 1500
check "SIGINT said, the stop last" eval 'has "$work/demo" "Stopping on SIGINT" && [ "$(tail -n 1 "$work/demo" | cut -c 22-)" = "Corvane stopped" ]'
check "stamped lines" eval '! grep -qvE "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}  " "$work/demo"'
check "datagram dropped" eval '[ ! -e "$station/corvane-udp-last.xml" ] && ! has "$work/demo" 7.000'

# Settings it cannot use: one warning that names the path, a run on the defaults, the file kept.
mkdir -p "$work/w3" "$work/w4" && touch "$work/w2"
{ printf '[udp]\nenabled=0\n'; head -c 1048576 /dev/zero | tr '\0' '\n'; } > "$work/w3/settings.ini"
printf '[udp]\nenabled=0\n\0' > "$work/w4/settings.ini"
while IFS='|' read -r folder warning; do
  run --config-dir "$folder" > "$work/warned" 2>&1
  check "$warning" await has "$work/warned" "Warning: $warning; running on the defaults"
  stop TERM 1500
  check "one warning" [ "$(grep -c Warning "$work/warned")" = 1 ]
done <<END
$work/w2/Corvane|cannot create the data folder $work/w2/Corvane
$work/w3|$work/w3/settings.ini is over 1 MiB, too large for settings
$work/w4|$work/w4/settings.ini is not text (UTF-8, or UTF-16LE with its BOM)
END
check "large file kept" [ "$(stat -c %s "$work/w3/settings.ini")" = 1048592 ]
check "binary file kept" cmp -s "$work/w4/settings.ini" <(printf '[udp]\nenabled=0\n\0')

# One Corvane per data folder. One started with standard output closed writes no line into the
# lock file, which holds its process id.
"$corvane" --config-dir "$station" >&- 2> /dev/null & pid=$!
check "locked" await eval '[ "$(cat "$station/corvane.lock")" = "$pid" ]'
timeout -s KILL 60 "$corvane" --config-dir "$station" > "$work/second" 2>&1
check "second start exits 0, not $?" [ $? = 0 ]
check "second start refused" [ "$(cut -c 22- "$work/second")" = "Corvane already runs with the data folder $station (process $pid)" ]
stop TERM 1500
check "lock file" [ "$(cat "$station/corvane.lock")" = "$pid" ] # read after the stop: no line

# An output that takes nothing holds up neither the workers nor the stop; once it moves again it
# says how many lines it dropped.
mkfifo "$work/fifo" && exec 3<> "$work/fifo"
run --config-dir "$station" > "$work/fifo" 2> /dev/null
flood() { # a thousand new calls, each a status line, a hundred at a time into the listener
  local i
  for ((i = $1; i < $1 + 1000; i++)); do
    send "<contactinfo><call>K$i</call></contactinfo>"
    ((i % 100 < 99)) || await eval 'send "<contactinfo><call>K$i</call></contactinfo>"; has "$station/corvane-udp-last.xml" "K$i<"' || return 1
  done
}
check "workers on while the output is stuck" flood 0
timeout 20 cat <&3 > "$work/shown" & reader=$!
check "dropped lines told" await has "$work/shown" "status lines dropped while the output was blocked)"
kill "$reader"
check "workers on while the output is stuck again" flood 1000
stop TERM 4000
exit $failed
