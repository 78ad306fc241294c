#!/usr/bin/env bash
# The headless front end as its users meet it: the real binary on throwaway data folders, logger
# datagrams through bash's /dev/udp. Usage: console_test.sh CORVANE VERSION; says what failed.
set -u
corvane=$1 version=$2 failed=0
work=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2> /dev/null; rm -rf "$work"' EXIT
# Never the user's own folder; and without ThreadSanitizer's own second at exit.
export XDG_CONFIG_HOME=$work/xdg HOME=$work/home TSAN_OPTIONS="${TSAN_OPTIONS:-}:atexit_sleep_ms=0"
. "$(dirname "$0")/../support/checks.sh"
# In the background as $pid, ended by force after a minute, so that a hang fails instead.
run() { timeout -s KILL 60 "$corvane" "$@" & pid=$!; }
# A signal to Corvane itself: timeout passes on only the first one.
signal() { kill -"$1" $(pgrep -P "$pid"); }
# The signal to $pid: it must exit with 0 within the bound in milliseconds.
stop() {
  local start=$(ms) code; kill -"$1" "$pid"; wait "$pid"; code=$?
  check "exit 0 on SIG$1, not $code" [ "$code" = 0 ]
  check "SIG$1 answered within $2 ms" [ $(($(ms) - start)) -lt "$2" ]
}
read -r port port2 rport < <(python3 -c 'import socket as k; s = [k.socket(type=t) for t in (k.SOCK_DGRAM, k.SOCK_DGRAM, k.SOCK_STREAM)]
[u.bind(("127.0.0.1", 0)) for u in s]; print(*[u.getsockname()[1] for u in s])')
settings() { printf '[vellumar]\nenabled=0\n[udp]\nip=127.0.0.1\nport=%s\n' "$2" > "$1/settings.ini"; }
station=$work/station && mkdir -p "$station" && settings "$station" "$port"
send() { printf '%s' "$1" > "/dev/udp/127.0.0.1/${2:-$port}"; }

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
stop INT 900 # the output takes the last lines at once: no waiting out the 1 s grace for them
check "SIGINT said, the stop last" eval 'has "$work/demo" "Stopping on SIGINT" && [ "$(tail -n 1 "$work/demo" | cut -c 22-)" = "Corvane stopped" ]'
check "stamped lines" eval '! grep -qvE "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}  " "$work/demo"'
check "datagram dropped" eval '[ ! -e "$station/corvane-udp-last.xml" ] && ! has "$work/demo" 7.000'

# Settings it cannot use: one warning that names the path, a run on the defaults, the file kept.
mkdir -p "$work/w3" "$work/w4" "$work/w5/settings.ini.tmp" && touch "$work/w2"
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
$work/w5|cannot write $work/w5/settings.ini
END
check "large and binary files kept" eval '[ "$(stat -c %s "$work/w3/settings.ini")" = 1048592 ] && cmp -s "$work/w4/settings.ini" <(printf "[udp]\nenabled=0\n\0")'

# One Corvane per data folder. One started with standard output closed writes no line into the
# lock file, which holds its process id.
"$corvane" --config-dir "$station" >&- 2> /dev/null & pid=$!
check "locked" await eval '[ "$(cat "$station/corvane.lock")" = "$pid" ]'
timeout -s KILL 60 "$corvane" --config-dir "$station" > "$work/second" 2>&1
check "second start exits 0, not $?" [ $? = 0 ]
check "second start refused" [ "$(cut -c 22- "$work/second")" = "Corvane already runs with the data folder $station (process $pid)" ]
stop TERM 1500
check "lock file" [ "$(cat "$station/corvane.lock")" = "$pid" ] # read after the stop: no line

# --check: each problem a line, exit 1; a good file exit 0; a missing one is said, and not made.
mkdir "$work/c" && printf '[vellumar]\nid=x\ninterval=10\n[wp]\nurl=ftp://x\n[udp]\nip=localhost\n[rigctld]\nport=70000\ninterval=7\n' > "$work/c/settings.ini"
"$corvane" --check --config-dir "$work/c" > "$work/out"
check "check: exit 1, not $?" [ $? = 1 ]
check "check: a line each" [ "$(wc -l < "$work/out")" = 6 ]
while read -r line; do check "check: $line" has "$work/out" "$line"; done <<END
[vellumar] api_key is empty, but the dashboard is enabled
[vellumar] interval=10: not an interval on offer; a start uses 30
[wp] url=ftp://x: not an http:// or https:// URL
[udp] ip=localhost: not a dotted quad such as 127.0.0.1; a start listens on every interface (0.0.0.0)
[rigctld] port=70000: not a port from 1 to 65535; a start uses 4532
[rigctld] interval=7: not an interval on offer; a start uses 5
END
check "check: a good file said, exit 0" eval 'out=$("$corvane" --check --config-dir "$station") && [ "$out" = "No problems found in $station/settings.ini" ]'
timeout 10 "$corvane" --check --config-dir "$work/c2//" > "$work/out" # the slashes go
check "check: no file, exit 1, not $?" [ $? = 1 ]
check "check: no file said, none made" eval 'has "$work/out" "$work/c2/settings.ini does not exist" && [ ! -e "$work/c2" ]'
# Without --config-dir: $XDG_CONFIG_HOME/Corvane, or ~/.config/Corvane when that is not absolute.
check "XDG_CONFIG_HOME" eval '"$corvane" --check | grep -qF "$XDG_CONFIG_HOME/Corvane/settings.ini does not"'
check "~/.config" eval 'XDG_CONFIG_HOME=x "$corvane" --check | grep -qF "$HOME/.config/Corvane/settings.ini does not"'

# Only a lock that is taken lets it run; a FIFO at settings.ini's temporary name holds up no
# start; a signal it does not handle keeps its default action; a thread or file size limit is
# reported or lived with, and so is a 64 KiB stack.
mkdir -p "$work/l1" "$work/l2/corvane.lock" "$work/l3" "$work/f" && ln -s nowhere "$work/l1/corvane.lock" && mkfifo "$work/l3/corvane.lock"
for folder in "$work/l1" "$work/l2" "$work/l3"; do
  timeout -s KILL 60 "$corvane" --config-dir "$folder" > "$work/out" 2>&1
  check "$folder: exit 1, not $?" [ $? = 1 ]
  check "$folder: lock refused" has "$work/out" "Error: cannot lock $folder/corvane.lock ("
done
mkfifo "$work/f/settings.ini.tmp" && run --config-dir "$work/f" > "$work/out" 2>&1
check "FIFO at the temporary name: started" await has "$work/out" "Hamlib (TCP): Disabled"
check "SIGALRM, not handled, ends it" eval 'signal ALRM; wait "$pid"; [ $? = 142 ]'
check "FIFO at the temporary name: settings written" [ -f "$work/f/settings.ini" ]
# The build folder may lie where that user cannot go: a copy of the binary beside the data.
mkdir -m 777 "$work/n" && chmod o+x "$work" && install -m 755 "$corvane" "$work/corvane"
check "no HOME: the account's" eval 'setpriv --reuid=65534 --regid=65534 --clear-groups env HOME= XDG_CONFIG_HOME= "$work/corvane" --check | grep -qF "$(getent passwd 65534 | cut -d: -f6)/.config/Corvane/settings.ini does not"'
for n in 1 2 3; do # (LeakSanitizer's check at exit needs a thread of its own)
  ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0 timeout -s KILL 60 setpriv --reuid=65534 --regid=65534 --clear-groups prlimit --nproc=$n "$work/corvane" --config-dir "$work/n" > "$work/out" 2>&1
  check "nproc $n: exit 1, not $?" [ $? = 1 ]
  check "nproc $n: said" has "$work/out" "Error: the system gives no thread for a worker"
done
timeout -s KILL 60 prlimit --fsize=4096 --stack=65536 "$corvane" --config-dir "$station" > "$work/out" 2>&1 & pid=$!
check "small limits: started" await has "$work/out" "Listening on"
send "$(head -c 5000 /dev/zero | tr '\0' x)" && send "<contactinfo><call>K0FSZ</call></contactinfo>"
check "small limits: a long datagram is only a failed write" await has "$work/out" "Last worked: K0FSZ "
stop TERM 1500

# SIGHUP applies settings.ini as Save does (the listener moves to the new port, or says why it
# cannot); SIGUSR1 and SIGUSR2 are ignored. The datagram file is replaced, never written through a
# hard link; control characters from the network reach no terminal. A flood shows at most one Live
# Status line a second, the newest.
h=$work/h && mkdir "$h" && settings "$h" "$port" && echo mine > "$work/target"
run --config-dir "$h" > "$work/out" 2>&1
check "first port" await has "$work/out" "Listening on 127.0.0.1:$port"
settings "$h" "$port2" && sed -i s/127.0.0.1/0.0.0.0/ "$h/settings.ini" && signal HUP && signal USR1 && signal USR2
check "reloaded" await has "$work/out" "Listening on 0.0.0.0:$port2"
check "one reload line" [ "$(grep -c "Settings reloaded" "$work/out")" = 1 ]
ln "$work/target" "$h/corvane-udp-last.xml"
check "datagram on the new port" await eval 'send "<contactinfo><call>K0HUP</call></contactinfo>" $port2; has "$work/out" "Last worked: K0HUP "'
check "hard link kept" eval '[ "$(cat "$work/target")" = mine ] && has "$h/corvane-udp-last.xml" K0HUP'
check "controls blanked" await eval 'send "$(printf "<RadioInfo><Freq>1407400</Freq><RadioName>A\x1fB\xc2\x9fC\x7fD\xc2\xa0</RadioName></RadioInfo>")" $port2; has "$work/out" "$(printf "Radio: A B C D\xc2\xa0 |")"'
flood() { # a thousand new calls to port $2, a hundred at a time into the listener of folder $3
  local i to=$2 dir=$3
  for ((i = $1; i < $1 + 1000; i++)); do
    send "<contactinfo><call>K$i</call></contactinfo>" $to
    ((i % 100 < 99)) || await eval 'send "<contactinfo><call>K$i</call></contactinfo>" $to; has "$dir/corvane-udp-last.xml" "K$i<"' || return 1
  done
}
first=$(ms) && lines=$(grep -c "Live Status" "$work/out")
check "flood" flood 0 "$port2" "$h"
check "newest state" await has "$work/out" "Last worked: K999 "
check "a line a second" [ $(($(grep -c "Live Status" "$work/out") - lines)) -le $((($(ms) - first) / 1000 + 1)) ]
printf '[udp]\nip=192.0.2.1\nport=%s\n' "$port" > "$h/settings.ini" && signal HUP # on no interface here
check "bind error" await has "$work/out" "UDP Receiver: Error: cannot bind port $port"
stop TERM 1500

# A reload while rigctld is connected reconnects with the new settings (Debian's libhamlib-utils).
r=$work/rig && mkdir "$r" && { rigctld -m 1 -T 127.0.0.1 -t "$rport" > /dev/null 2>&1 & }
printf '[vellumar]\nenabled=0\n[udp]\nenabled=0\n[rigctld]\nenabled=1\nport=%s\nmycall=K1OLD\n' "$rport" > "$r/settings.ini" && run --config-dir "$r" > "$work/polled" 2>&1
check "rigctld polled" await has "$work/polled" "Hamlib (TCP): Connected — Hamlib Dummy"
sed -i s/K1OLD/K1NEW/ "$r/settings.ini" && signal HUP
check "rigctld: the reloaded MyCall" await has "$work/polled" "MyCall: K1NEW"
sed -i s/enabled=1/enabled=0/ "$r/settings.ini" && signal HUP
check "rigctld: turned off by a reload" await has "$work/polled" "Hamlib (TCP): Disabled"
stop TERM 1500

# An output whose reader is gone, and sources and a dashboard that all fail, cost no time: their
# lines are lost and their retries wait.
i=$work/idle && mkdir "$i" && printf '[vellumar]\nenabled=0\n[wp]\nenabled=1\nurl=http://127.0.0.1:9/\nid=x\napi_key=y\ninterval=1\n[udp]\nport=%s\n[hrd]\nenabled=1\nport=9\n[rigctld]\nenabled=1\nport=9\n' "$port" > "$i/settings.ini"
exec 4> >(:) && wait $! && run --config-dir "$i" >&4 2>&1 && exec 4>&-
check "all failing: a call" await eval 'send "<contactinfo><call>K0CPU</call></contactinfo>"; has "$i/corvane-udp-last.xml" K0CPU'
sleep 3 && read -ra cpu < /proc/$(pgrep -P "$pid")/stat # fields 14 and 15: the ticks used
check "all failing: no busy loop (${cpu[13]}+${cpu[14]} ticks)" [ $((cpu[13] + cpu[14])) -lt 100 ]
stop TERM 1500

# An output that takes nothing (its pipe full) holds up neither the workers, nor reloads, nor the
# stop; once it moves again it says how many lines it dropped.
mkfifo "$work/fifo" && exec 3<> "$work/fifo" && python3 -c 'import fcntl, os; os.write(3, b"\n" * fcntl.fcntl(3, 1032))'
run --config-dir "$station" > "$work/fifo" 2> /dev/null
check "workers on while the output is stuck" flood 0 "$port" "$station"
for ((i = 0; i < 40; i++)); do # each reload moves the listener and says so in three lines
  p=$((i % 2 ? port : port2)) && settings "$station" $p && signal HUP
  await eval 'send "<RadioInfo><Freq>$i</Freq></RadioInfo>" $p; has "$station/corvane-udp-last.xml" "<Freq>$i<"' || break
done
check "reloads while the output is stuck" [ "$i" = 40 ]
# The stop waits a while for the output to move: a reader that comes then gets the last lines.
(sleep 0.3 && exec cat <&3 > "$work/shown") & stop TERM 4000
check "dropped lines told, the stop last" await eval 'has "$work/shown" "status lines dropped while the output was blocked)" && [ "$(tail -n 1 "$work/shown" | cut -c 22-)" = "Corvane stopped" ]'
exit $failed
