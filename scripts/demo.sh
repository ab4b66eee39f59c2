#!/usr/bin/env bash
# The main job: one whole quillgate session against the stand-in gateway and
# the stand-in SDK. The gateway starts quillgate, which registers; the
# gateway beats its heart, then logs the user out and quillgate exits.
# Every call that passes is printed as one line, then what quillgate wrote
# into the SDK's log.
set -euo pipefail
bin=$(cd "${1:?usage: demo.sh <build bin dir>}" && pwd)
work=$(mktemp -d)
status=0
trap 'rm -rf "$work"' EXIT

cat > "$work/script" <<'SCRIPT'
wait initiateQiullgateDelegate
call heartBeat
sleep 1500
call connect 1 "127.0.0.1:8906"
call logout 2
wait replyLogout 3000
SCRIPT

echo "== gateway (recv: calls quillgate made; call: calls the gateway made)"
QG_SDK_LOG="$work/sdk.log" QG_SDK_JOURNAL="$work/sdk.journal" \
  "$bin/standin-gateway" -b 500 -w 10 -S "$work/script" || status=$?
echo "== SDK calls made by quillgate"
cat "$work/sdk.journal" 2>/dev/null || true
echo "== quillgate's log (SDK option 135)"
cat "$work/sdk.log" 2>/dev/null || true
exit $status
