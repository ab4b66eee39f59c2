#!/usr/bin/env bash
# The main job: one whole quillgate session against the stand-in gateway and
# the stand-in SDK. The gateway starts quillgate, which registers; the
# browser's init parameters arrive, the user logs in, enters room 5, sees
# who is there, watches carol come and go (injected through the SDK's
# control FIFO), lists the room, mutes a user, leaves and logs out, and
# quillgate exits. Every call that passes is printed as one line, then the
# SDK calls quillgate made and what it wrote into the SDK's log.
set -euo pipefail
bin=$(cd "${1:?usage: demo.sh <build bin dir>}" && pwd)
work=$(mktemp -d)
status=0
feeder=""
trap '[ -n "$feeder" ] && kill "$feeder" 2>/dev/null; rm -rf "$work"' EXIT

cat > "$work/script" <<'SCRIPT'
wait initiateQiullgateDelegate
call heartBeat
call setGeneralParam 1 1 "{\"accessversion\":\"demo\",\"browsertype\":4,\"debugflag\":8,\"debuglevel\":4,\"h5handlestreamtype\":2,\"platformtype\":1}"
call login 2 "127.0.0.1:8906" "alice" "secret" 0 "{\"browsertype\":4,\"platformtype\":1}"
wait replyLogin
wait notifyAppConfigInfo
call enterRoom 3 5 "" 0
wait replyEnterRoom
wait notifyOnlineUser
wait notifyUserAtRoom
wait notifyUserAtRoom
call getRoomOnlineUsers 4 5
wait replyGetRoomOnlineUsers
call userSpeakControl 5 2001 false
wait replyUserSpeakControl
call leaveRoom 6 5
wait replyLeaveRoom
call logout 7
wait replyLogout
SCRIPT

# The SDK reads room events from this FIFO; held open read-write here so
# writes never block.
mkfifo "$work/control"
exec 3<>"$work/control"

# Users come and go once the room's list has reached the gateway.
(
  for _ in $(seq 200); do
    grep -q '^recv notifyOnlineUser(' "$work/out" 2>/dev/null && break
    sleep 0.05
  done
  echo "user enter 2003 name=6361726f6c camera=1 speak=1" >&3
  for _ in $(seq 200); do
    grep -q '^recv notifyUserAtRoom(' "$work/out" 2>/dev/null && break
    sleep 0.05
  done
  echo "user leave 2003" >&3
) &
feeder=$!

echo "== gateway (call: what the gateway asked; recv: what quillgate sent back)"
QG_SDK_LOG="$work/sdk.log" QG_SDK_JOURNAL="$work/sdk.journal" QG_SDK_CONTROL="$work/control" \
  "$bin/standin-gateway" -Q -w 10 -S "$work/script" | tee "$work/out" || status=$?
wait "$feeder" 2>/dev/null || true
feeder=""
echo "== SDK calls made by quillgate"
cat "$work/sdk.journal" 2>/dev/null || true
echo "== quillgate's log (SDK option 135)"
cat "$work/sdk.log" 2>/dev/null || true
exit $status
