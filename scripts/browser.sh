#!/usr/bin/env bash
# A whole browser session with a real browser: headless Chromium, its fake
# camera, and quillgate with the GStreamer media library, all inside network
# and process namespaces of their own whose only interface is lo, so no
# packet leaves the machine and no process outlives the run.
#
# The stand-in gateway starts quillgate from a folder of its own (a copy of
# the program and the stand-in SDK beside the GStreamer library) and serves
# the browser's page; the script logs in, enters room 5, and has the page
# make two peers: one receiving user 2001's camera (the library offers) and
# one sending the page's own camera and a data channel (the page offers).
# Offers, answers and candidates pass through quillgate both ways. After
# ten seconds of media (up to 30 more on a slow host, until each peer has
# 101 frames) the page reports its statistics, closes both peers,
# and the user logs out.
#
# The logs stay in the log folder (default <bin dir>/../browser): gateway.out,
# sdk.journal, rtc.journal, sdk.log, chromium.log, the page's descriptions
# (page-*.json), the script and stream.crc (the CRC-32 of each video packet
# of the file the page's data channel sends). The last line is the verdict:
#   browser: passed N of N checks (...); ...; exit status 0
#   browser: FAILED K of N checks (...); passed ...; exit status 1
#   browser: skipped: <why>; exit status 77
# With --check it only finds out whether the namespaces can be had here:
# exit status 0, or the skip line and 77.
set -euo pipefail
usage="usage: browser.sh <bin dir> <GStreamer library dir> [log dir]
       browser.sh --check"

# The namespaces: a new network with lo only, a new pid space whose first
# process this script is, so everything it started ends with it, and a
# /proc of that pid space. Sets ns to the unshare command and proc to
# "mount" where the script mounts that /proc itself; or skip to why the
# namespaces cannot be had here. Without them the run could pick a pair
# off loopback and leave processes, so such a host skips the run.
namespaces() {
  local user=() whole plain private
  [ "$(id -u)" -eq 0 ] || user=(--map-root-user)
  ns=(unshare "${user[@]}" --net --pid --fork --mount-proc)
  proc=""
  whole=$("${ns[@]}" true 2>&1) && return 0
  if ! plain=$(unshare "${user[@]}" --net --pid --fork true 2>&1); then
    skip="this host makes no network and pid namespaces (${plain:-unshare failed})"
    return 1
  fi
  # --mount-proc first makes every mount private from the root down, which
  # fails where the root is no mount point (a chroot). Made private alone,
  # /proc takes a fresh proc that no other mount namespace sees.
  ns=(unshare "${user[@]}" --mount --propagation unchanged --net --pid --fork)
  proc=mount
  private=$("${ns[@]}" sh -c 'mount --make-private /proc && mount -t proc proc /proc' 2>&1) && return 0
  whole=${whole%%$'\n'*} private=${private%%$'\n'*}
  skip="the new pid namespace gets no /proc of its own: unshare --mount-proc failed"
  skip+=" (${whole:-no message}), and so did mounting proc on /proc made private"
  skip+=" (${private:-no message})"
  return 1
}

if [ "${1:-}" = --check ]; then
  namespaces || { echo "browser: skipped: $skip; exit status 77"; exit 77; }
  exit 0
fi

top=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:?$usage}" && pwd)
gstlib=$(cd "${2:?$usage}" && pwd)
logs=${3:-$bin/../browser}
mkdir -p "$logs"
logs=$(cd "$logs" && pwd)

if [ -z "${QG_BROWSER_NAMESPACED:-}" ]; then
  if ! namespaces; then
    echo "browser: skipped: $skip; exit status 77"
    exit 77
  fi
  exec env QG_BROWSER_NAMESPACED="${proc:-1}" "${ns[@]}" "$0" "$bin" "$gstlib" "$logs"
fi
if [ "$QG_BROWSER_NAMESPACED" = mount ]; then
  mount --make-private /proc
  mount -t proc proc /proc
fi
ip link set lo up

chromium=${QG_CHROMIUM:-$(command -v chromium || true)}
if [ -z "$chromium" ]; then
  echo "browser: no chromium on PATH; exit status 1"
  exit 1
fi

out=$logs/gateway.out
journal=$logs/sdk.journal
rtcjournal=$logs/rtc.journal
sdklog=$logs/sdk.log
chromelog=$logs/chromium.log
folder=$logs/bin
profile=$logs/profile
control=$logs/control
rm -rf "$folder" "$profile"
rm -f "$out" "$journal" "$rtcjournal" "$sdklog" "$chromelog" "$control" "$logs/stream.crc" "$logs"/page-*.json
mkdir -p "$folder" "$profile"

# The program's folder, as installed: quillgate opens the media library
# and the demuxer module beside itself.
cp "$bin/quillgate" "$bin/dizoveverivuve.so" "$bin/libquillgatedemux.so" "$gstlib/libcorvanewebrtcsdk.so" \
  "$gstlib/libcorvanewebrtcsdkpv.so" "$folder/"

# A JSON text as a quoted script argument.
json() { local text=$1; printf '"%s"' "${text//\"/\\\"}"; }
peer() { json "{\"type\":\"peer\",\"peerconnectionid\":\"$1\",\"streamtype\":$2,\"userid\":$3}"; }
cat > "$logs/script" <<SCRIPT
wait initiateQiullgateDelegate
call heartBeat
call setGeneralParam 1 1 "{\"accessversion\":\"browser\",\"browsertype\":4,\"debugflag\":2,\"debuglevel\":4,\"h5handlestreamtype\":2,\"platformtype\":1}"
call login 2 "127.0.0.1:8906" "alice" "secret" 0 "{\"browsertype\":4,\"platformtype\":1}"
wait replyLogin
call enterRoom 3 5 "" 0
wait replyEnterRoom
page open 60000
# The camera first: with its permission the page's candidates carry addresses, not mDNS names.
page send $(json '{"type":"camera"}')
page wait "camera " 20000
page send $(peer user2001-camera 2 2001)
page wait "peer user2001-camera connection connected" 30000
call userCameraControl 4 2001 true
page send $(peer own-camera 1 1001)
page wait "peer own-camera connection connected" 30000
page wait "peer own-camera data channel media open" 20000
page send $(json '{"type":"stats","tag":"start"}')
page wait "stats start done" 10000
sleep 10000
# Ten seconds at least; on a slow host up to 30 more, until each peer has 101 frames.
page send $(json '{"type":"stats","tag":"end","frames":101,"ms":30000}')
page wait "stats end done" 40000
page send $(json '{"type":"close","peerconnectionid":"own-camera"}')
page send $(json '{"type":"close","peerconnectionid":"user2001-camera"}')
page wait "peer own-camera closed 0" 10000
page wait "peer user2001-camera closed 0" 10000
call logout 9
wait replyLogout
SCRIPT

status=0
gateway=""
browser=""
feeder=""
trap '[ -n "$browser" ] && kill "$browser" 2>/dev/null; [ -n "$gateway" ] && kill "$gateway" 2>/dev/null;
  [ -n "$feeder" ] && kill "$feeder" 2>/dev/null; rm -f "$control"; true' EXIT

# The SDK reads its control lines from this FIFO, held open read-write here
# so writes never block. Once the camera is open, user 2001's clip (two
# seconds) plays on a loop, so ten seconds of it can be counted.
mkfifo "$control"
exec 3<>"$control"
(
  for _ in $(seq 1200); do
    grep -q '^recv replyUserCameraControl("standin-session", 4, 2001, 0)' "$out" 2>/dev/null && break
    sleep 0.05
  done
  echo "start 2001 video loop=on" >&3
) &
feeder=$!

echo "== gateway (call: what the gateway sent; recv: what quillgate sent back; page: what the page saw)"
QG_SDK_LOG="$sdklog" QG_SDK_JOURNAL="$journal" QG_SDK_CONTROL="$control" QG_RTC_JOURNAL="$rtcjournal" \
  "$bin/standin-gateway" -Q -w 15 -W 0 -K "$logs" -D "$top/tests/data/media/stream_vp8_opus.webm" \
  -q "$folder/quillgate" -S "$logs/script" > "$out" 2>&1 &
gateway=$!
tail -n +1 -f "$out" --pid "$gateway" &
for _ in $(seq 200); do grep -q '^page http' "$out" 2>/dev/null && break; sleep 0.05; done
url=$(sed -n 's/^page \(http[^ ]*\)$/\1/p' "$out")
if [ -n "$url" ]; then
  "$chromium" --headless=new --no-sandbox --disable-gpu --use-fake-ui-for-media-stream \
    --use-fake-device-for-media-stream --allow-loopback-in-peer-connection \
    --autoplay-policy=no-user-gesture-required --user-data-dir="$profile" --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync "$url" > "$chromelog" 2>&1 &
  browser=$!
fi
wait "$gateway" || status=$?
gateway=""
kill "$feeder" 2>/dev/null || true
feeder=""
[ -n "$browser" ] && kill "$browser" 2>/dev/null && wait "$browser" 2>/dev/null || true
browser=""
wait

# ---- the verdict ----
join() { [ $# -gt 0 ] || set -- none; local IFS=,; echo "$*" | sed 's/,/, /g'; }
count() { grep -cE "$1" "$2" 2>/dev/null || true; }
stat() {  # stat TAG PEER FIELD
  sed -n "s/^page stats $1 $2 .*[ ]$3=\([^ ]*\).*/\1/p" "$out" | tail -n 1
}
num() { case $1 in '' | *[!0-9]*) echo 0 ;; *) echo "$1" ;; esac; }
pair=$(sed -n 's/^page stats end own-camera .* pair=\(.*\)$/\1/p' "$out" | tail -n 1)
decoded=$(( $(num "$(stat end user2001-camera decoded)") - $(num "$(stat start user2001-camera decoded)") ))
encoded=$(( $(num "$(stat end own-camera encoded)") - $(num "$(stat start own-camera encoded)") ))
codec=$(stat end user2001-camera codec)
sendcodec=$(stat end own-camera codec)
datasent=$(stat end own-camera datasent)
connected=$(count '^state [0-9]+ connection connected$' "$rtcjournal")
tobrowser=$(count '^CVRTC_InputVideoStreamData .* sent = 0$' "$rtcjournal")
datain=$(count '^cb data ' "$rtcjournal")
# The SDK's video frames are the browser's camera and the data channel's
# container stream, told apart by CRC-32: the file's video packets, as
# ffprobe lists them, are the stream's; every other frame is to be the
# camera's as the library handed it to quillgate (handle 2, the sending
# peer). The camera's run in the SDK: the library's frames from the k-th on,
# every one to its last, in order (the first k go before the SDK's video
# format is set). The stream's: how many of the file's frames came, in order.
# Prints: library-frames sdk-frames k in-order stream-found stream-total.
ffprobe -v error -select_streams v:0 -show_entries packet=data_hash -show_data_hash CRC32 -of csv=p=0 \
  "$top/tests/data/media/stream_vp8_opus.webm" > "$logs/stream.crc" 2>/dev/null || : > "$logs/stream.crc"
read -r tolibrary tosdk dropped inorder streamframes streamtotal < <(awk -v stream="$logs/stream.crc" '
  function crc(   i) { for (i = 1; i <= NF; i++) if ($i ~ /^crc=/) return substr($i, 5); return "" }
  BEGIN { total = 0; found = 0; nl = 0; ns = 0
    while ((getline c < stream) > 0) if (c != "") { file[total++] = c; infile[c] = 1 } }
  FILENAME == ARGV[1] && /^cb video 2 / { lib[nl++] = crc() }
  FILENAME == ARGV[2] && /^CVAPI_InputVideoDataEx / {
    c = crc()
    if (!(c in infile)) sdk[ns++] = c
    else if (found < total && c == file[found]) found++
  }
  END {
    k = -1
    for (j = 0; j < nl && ns > 0; j++) if (lib[j] == sdk[0]) { k = j; break }
    ok = k >= 0 && k + ns == nl
    for (j = 0; ok && j < ns; j++) if (lib[k + j] != sdk[j]) ok = 0
    print nl, ns, (k < 0 ? "-" : k), (ok ? "yes" : "no"), found, total
  }' "$rtcjournal" "$journal" 2>/dev/null || echo "0 0 - no 0 0") || true
# The library's own sequence numbers run 0, 1, 2 ... for the camera.
libinorder=$(awk '/^cb video 2 /{ for (i = 1; i <= NF; i++) if ($i ~ /^seq=/) { s = substr($i, 5) + 0; if (s != n) bad = 1; n++ } }
  END { print (n > 0 && !bad) ? "yes" : "no" }' "$rtcjournal" 2>/dev/null || echo no)
version=$(sed -n 's/^page open .*\(Chrome\/[0-9.]*\).*/\1/;T;p;q' "$out")

checks="page open|grep -q '^page open ok' '$out'
receiving peer connected|grep -q '^page wait \"peer user2001-camera connection connected\" ok' '$out'
sending peer connected|grep -q '^page wait \"peer own-camera connection connected\" ok' '$out'
library connected both peers|[ '$connected' -ge 2 ]
selected pair on loopback|echo '$pair' | grep -q '^127\.0\.0\.1:.* <-> 127\.0\.0\.1:'
remote video decoded (over 100)|[ '$decoded' -gt 100 ]
browser camera to quillgate in order|[ '$tolibrary' -gt 100 ] && [ '$libinorder' = yes ]
browser camera to the SDK in order (over 100)|[ '$tosdk' -gt 100 ] && [ '$inorder' = yes ]
data-channel stream to the SDK (every video frame in order)|[ '$streamtotal' -gt 0 ] && [ '$streamframes' = '$streamtotal' ]
data channel to the library|[ '$datain' -gt 0 ] && [ '$datain' = '${datasent:-x}' ]
data channel to the browser|grep -q 'data message \"hello from the media library\"' '$out'
logout|grep -q '^recv replyLogout(\"standin-session\", 9, 0)' '$out'
quillgate exit 0|grep -q '^quillgate exit 0$' '$out'"
passed=() failed=()
while IFS='|' read -r name test; do
  if bash -c "$test" 2>/dev/null; then passed+=("$name"); else failed+=("$name"); fi
done <<< "$checks"
[ ${#failed[@]} -eq 0 ] || status=1

echo "== SDK calls made by quillgate (frames counted)"
grep -vE '^CVAPI_Input(Video|Audio)Data' "$journal" 2>/dev/null || true
echo "== media-library calls and callbacks (frames counted, long texts cut at 200 characters)"
grep -vE '^(cb video|cb audio|CVRTC_Input(Video|Audio)StreamData|cb data) ' "$rtcjournal" 2>/dev/null | cut -c1-200 || true
echo "== logs"
for f in "$out" "$journal" "$rtcjournal" "$sdklog" "$chromelog" "$logs/stream.crc" "$logs"/page-*.json; do
  [ -e "$f" ] && echo "$f"
done
numbers="${version:-no browser}; to the browser: ${decoded} frames decoded (${codec:-no codec}), $tobrowser sent by the library;"
numbers+=" from the browser: ${encoded} frames encoded (${sendcodec:-no codec}), $tolibrary to quillgate"
numbers+=" (in order: $libinorder), $tosdk to the SDK (in order: $inorder, $dropped dropped at start);"
numbers+=" data channel: ${datain} of ${datasent:-0} messages, its stream's video to the SDK: $streamframes of $streamtotal frames;"
numbers+=" pair ${pair:-none}"
total=$(( ${#passed[@]} + ${#failed[@]} ))
if [ $status -eq 0 ]; then
  echo "browser: passed $total of $total checks ($(join "${passed[@]}")); $numbers; exit status 0"
else
  echo "browser: FAILED ${#failed[@]} of $total checks ($(join "${failed[@]}")); passed: $(join "${passed[@]}");" \
    "$numbers; exit status $status"
fi
exit $status
