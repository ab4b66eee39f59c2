#!/usr/bin/env bash
# A gateway that accepts connections and never answers: quillgate's calls
# time out one after another until it gives up (about 150 s). Too long for
# CI, so it runs by hand:
#   scripts/silent_gateway.sh [bin-dir]      (default: build/bin)
# Passes when quillgate ends by itself within 240 s, with status 0 and its
# "will exit" line.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$top/build/bin}
work=$(mktemp -d)
trap 'kill "$listener" "$qg" 2>/dev/null || true; rm -rf "$work"' EXIT

# The listener: accepts, holds every connection open, reads nothing.
python3 - "$work/port" <<'PY' &
import socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(64)
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
held = []
s.settimeout(1)
end = time.time() + 300
while time.time() < end:
    try:
        held.append(s.accept()[0])
    except socket.timeout:
        pass
PY
listener=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")

start=$(date +%s)
QG_SDK_LOG=$work/sdk.log "$bin/quillgate" -g silent-session -h "127.0.0.1:$port" </dev/null >"$work/out" 2>&1 &
qg=$!
status=timeout
for _ in $(seq 2400); do
  if ! kill -0 "$qg" 2>/dev/null; then
    wait "$qg" && status=0 || status=$?
    break
  fi
  sleep 0.1
done
echo "quillgate ended: $status after $(( $(date +%s) - start )) s"
tail -5 "$work/sdk.log" || true
[ "$status" = 0 ] && grep -q "will exit" "$work/sdk.log"
