#!/usr/bin/env bash
# What the real binary says of its posts, in a network and mount namespace of the test's own (run
# it under `unshare -mn`): loopback only, a dashboard stand-in that answers with the status its
# path names (plain and TLS), and a name server that answers "missing" with "no such name" and
# never answers anything else. Usage: posting_console_test.sh CORVANE PKI; says what failed.
set -u
corvane=$1 pki=$2 failed=0
work=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2> /dev/null; rm -rf "$work"' EXIT
. "$(dirname "$0")/../support/checks.sh"
[ "$(readlink /proc/self/ns/net)" != "$(readlink /proc/1/ns/net)" ] || { echo "FAILED: not in a network namespace of its own (unshare -mn)"; exit 1; }
printf 'nameserver 127.0.0.1\n' > "$work/resolv.conf" && printf 'hosts: files dns\n' > "$work/nsswitch.conf"
ip link set lo up && mount --bind "$work/resolv.conf" /etc/resolv.conf && mount --bind "$work/nsswitch.conf" /etc/nsswitch.conf || { echo "FAILED: no private network and resolver"; exit 1; }
python3 -u - "$pki" > "$work/peers" 2>&1 <<'END' &
import http.server, socket, ssl, sys, threading
class Sink(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        self.rfile.read(int(self.headers["Content-Length"]))
        self.send_response(int(self.path[1:4])); self.send_header("Content-Length", "0"); self.end_headers()
servers = [http.server.ThreadingHTTPServer(("127.0.0.1", 0), Sink) for _ in range(2)]
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1] + "/server.pem", sys.argv[1] + "/server.key")
servers[1].socket = context.wrap_socket(servers[1].socket, server_side=True)
dns = socket.socket(type=socket.SOCK_DGRAM); dns.bind(("127.0.0.1", 53))
for server in servers: threading.Thread(target=server.serve_forever, daemon=True).start()
print("ports", servers[0].server_port, servers[1].server_port)
while True:
    query, peer = dns.recvfrom(512); print("query", query[13:query.index(b"\0", 12)])
    if b"\x07missing" in query: dns.sendto(query[:2] + b"\x81\x83\0\x01" + bytes(6) + query[12:query.index(b"\0", 12) + 5], peer)
END
await grep -qs ports "$work/peers" || { echo "FAILED: no stand-ins"; cat "$work/peers"; exit 1; }
read -r _ plain tls < "$work/peers"
dead=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
export XDG_CONFIG_HOME=$work/xdg HOME=$work/home TZ=XYZ-5:30 # a zone off UTC by a half hour
# Starts corvane (as $pid) posting to the URL at once, test mode being the source.
run() {
  mkdir -p "$work/d" && printf '[vellumar]\nenabled=0\n[udp]\nenabled=0\n[wp]\nenabled=1\nurl=%s\nid=d\napi_key=k\n' "$1" > "$work/d/settings.ini"
  rm -f "$work/out" && started=$(ms)
  timeout -s KILL 60 "$corvane" --config-dir "$work/d" --test-mode > "$work/out" 2>&1 & pid=$!
}
line() { grep -so "[0-9:]\{8\}  WP Dashboard: Last post: .*" "$work/out"; }
# The dashboard, the line's end (after the attempt's time), at most how long it may take in ms.
while IFS='|' read -r url reason most; do
  run "$url"
  check "$url: a post line" await eval "line > /dev/null"
  check "$url: '$(line)', not '$reason'" eval '[[ "$(line)" =~ ^([0-9:]{8})\ \ WP\ Dashboard:\ Last\ post:\ (.*)\ —\ ([0-9:]{8})(.*)$ && "${BASH_REMATCH[2]}${BASH_REMATCH[4]}" = "$reason" ]]'
  check "$url: the local time of the attempt" eval 'at() { date -d "$1" +%s; }; (($(at "${BASH_REMATCH[1]}") - $(at "${BASH_REMATCH[3]}") <= 3 && $(at "${BASH_REMATCH[1]}") >= $(at "${BASH_REMATCH[3]}")))'
  check "$url: within $most ms" [ $(($(ms) - started)) -lt "$most" ]
  kill "$pid"; wait "$pid"
done <<END
http://127.0.0.1:$plain/200/|OK|2000
http://127.0.0.1:$plain/401/|FAILED — HTTP 401|2000
http://127.0.0.1:$dead|FAILED — connection refused|2000
https://localhost:$tls/200/|FAILED — certificate not trusted|2000
http://missing.corvane.test/|FAILED — name not found|2000
http://silent.corvane.test/|FAILED — no answer|3500
END
# A stop while the name server keeps the lookup waiting is prompt (the bound of every stop, which
# the sanitizer builds need).
run http://silent2.corvane.test/
check "lookup asked" await grep -q silent2 "$work/peers"
start=$(ms) && kill -TERM "$pid" && wait "$pid"
check "exit 0 on SIGTERM during a lookup, not $?" [ $? = 0 ]
check "SIGTERM during a lookup answered within 1500 ms" [ $(($(ms) - start)) -lt 1500 ]
exit $failed
