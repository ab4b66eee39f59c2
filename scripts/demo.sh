#!/usr/bin/env bash
# The main job: one whole quillgate session against the stand-in gateway,
# the stand-in SDK and the stand-in media library. The gateway starts
# quillgate, which registers; the browser's init parameters arrive and load
# the media library; the user logs in, enters room 5, sees who is there and
# watches carol come (injected through the SDK's control FIFO); the browser
# receives carol's camera through a peer the library offers on, and sends
# its own through a peer it offers on, candidates passing both ways; carol's
# camera and microphone play to the browser while the browser's own play to
# the SDK (each stream's frames counted and their CRC-32s checked against
# the list the ffmpeg tools give for the fixture played); carol leaves and
# her peer ends; the user lists the room, mutes a user, sends
# user 2001 a text message and a transparent buffer and gets one of each
# back (the buffer converted from and to GB2312, 2001's device speaks it),
# receives an SDK event too long for one message in pieces. Then the user
# leaves the room and enters it again with a browser that sends its camera
# as a container stream on a data channel: the channel opens (event 4), the
# file's messages are joined and demultiplexed, the SDK gets the stream's
# formats and every frame; the channel falls silent, after 5 s quillgate asks
# the browser to reset it ("resetdatachannel"), the channel opens again and
# the stream plays once more from its first packet. The user logs out,
# which ends the last peer; quillgate exits. All along quillgate reports
# itself to a stand-in parent server over UDP (-f): registration 1000, the
# result 1001, the goodbye 1004 at stop.
#
# Six sections: the gateway's lines in wire order (call: what the gateway
# sent; recv: what quillgate sent back), the parent server's datagrams, the
# SDK calls quillgate made, the media-library calls and callbacks (frames
# only counted, in the media section), the media both ways, one line a
# stream, and what quillgate wrote into the SDK's log. They stay in the log folder (default <bin dir>/../demo). The last
# line is the verdict:
#   demo: passed N of N steps (...); exit status 0
#   demo: FAILED K of N steps (...); passed ...; exit status 1
set -euo pipefail
usage="usage: demo.sh <bin dir> [log dir]"
bin=$(cd "${1:?$usage}" && pwd)
logs=${2:-$bin/../demo}
mkdir -p "$logs"
logs=$(cd "$logs" && pwd)
out=$logs/gateway.out
journal=$logs/sdk.journal
rtcjournal=$logs/rtc.journal
sdklog=$logs/sdk.log
parentout=$logs/parent.out
control=$logs/control
rtccontrol=$logs/rtc.control
rm -f "$out" "$journal" "$rtcjournal" "$sdklog" "$parentout" "$control" "$rtccontrol" "$logs/event.json" \
  "$logs"/media.*
# The clips the stand-in SDK and media library play, and the demo checks
# their frames against: installed, they lie beside this script
# (share/quillgate/media); in the source tree they are the test fixtures.
here=$(cd "$(dirname "$0")" && pwd)
if [ -d "$here/media" ]; then
  media=$here/media
else
  media=$(cd "$here/.." && pwd)/tests/data/media
fi
media=${QG_SDK_MEDIA_DIR:-$media}
export QG_SDK_MEDIA_DIR=$media QG_RTC_MEDIA_DIR=$media
status=0
feeder=""
parent=""
trap '[ -n "$feeder" ] && kill "$feeder" 2>/dev/null; [ -n "$parent" ] && kill "$parent" 2>/dev/null
  rm -f "$control" "$rtccontrol"' EXIT

# The browser's side of two peers, as a current browser writes it.
crlf='\\r\\n'
sdp() { local IFS=; local text; text=$(printf "%s$crlf" "$@"); printf '%s' "$text"; }
answer=$(sdp 'v=0' 'o=- 4611731400430051336 2 IN IP4 127.0.0.1' 's=-' 't=0 0' 'a=group:BUNDLE 0 1' \
  'm=audio 9 UDP/TLS/RTP/SAVPF 111' 'c=IN IP4 0.0.0.0' 'a=mid:0' 'a=setup:active' 'a=sendrecv' \
  'a=rtpmap:111 opus/48000/2' 'a=ssrc:1111 cname:demo' \
  'm=video 9 UDP/TLS/RTP/SAVPF 96 97 102 103' 'c=IN IP4 0.0.0.0' 'a=mid:1' 'a=setup:active' 'a=sendrecv' \
  'a=rtpmap:96 VP8/90000' 'a=rtpmap:97 rtx/90000' 'a=fmtp:97 apt=96' 'a=rtpmap:102 H264/90000' \
  'a=rtpmap:103 rtx/90000' 'a=fmtp:103 apt=102' 'a=ssrc-group:FID 2222 3333' 'a=ssrc:2222 cname:demo' \
  'a=ssrc:3333 cname:demo')
offer=$(sdp 'v=0' 'o=- 4611731400430051337 2 IN IP4 127.0.0.1' 's=-' 't=0 0' 'a=group:BUNDLE 0 1' \
  'm=audio 9 UDP/TLS/RTP/SAVPF 111' 'c=IN IP4 0.0.0.0' 'a=mid:0' 'a=setup:actpass' 'a=sendrecv' \
  'a=rtpmap:111 opus/48000/2' 'a=ssrc:4444 cname:demo' \
  'm=video 9 UDP/TLS/RTP/SAVPF 96 97' 'c=IN IP4 0.0.0.0' 'a=mid:1' 'a=setup:actpass' 'a=sendrecv' \
  'a=rtpmap:96 VP8/90000' 'a=rtpmap:97 rtx/90000' 'a=fmtp:97 apt=96' 'a=ssrc:5555 cname:demo')
# A browser that sends its media on a data channel alone.
dataoffer=$(sdp 'v=0' 'o=- 4611731400430051338 2 IN IP4 127.0.0.1' 's=-' 't=0 0' 'a=group:BUNDLE 0' \
  'm=application 9 UDP/DTLS/SCTP webrtc-datachannel' 'c=IN IP4 0.0.0.0' 'a=mid:0' 'a=setup:actpass' \
  'a=sctp-port:5000' 'a=max-message-size:262144')
candidate='{\"candidate\":\"candidate:9 1 udp 2122260223 127.0.0.1 50000 typ host\",\"peerconnectionid\":\"own-camera\",\"type\":\"candidate\"}'

cat > "$logs/script" <<SCRIPT
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
call consultParam 20 1 "{\"control\":1,\"peerconnectionid\":\"carol-video\",\"streamindex\":0,\"streamtype\":2,\"userid\":2003}"
wait replyConsultParam
wait notifyWebrtcConsult
call webrtcConsult 21 "{\"peerconnectionid\":\"carol-video\",\"sdp\":\"$answer\",\"type\":\"answer\"}"
wait replyWebrtcConsult
call consultParam 22 1 "{\"control\":1,\"peerconnectionid\":\"own-camera\",\"streamindex\":0,\"streamtype\":1,\"userid\":1001}"
wait replyConsultParam
call webrtcConsult 23 "{\"peerconnectionid\":\"own-camera\",\"sdp\":\"$offer\",\"type\":\"offer\"}"
wait replyWebrtcConsult
call userCameraControl 25 2003 true
wait replyUserCameraControl
call userSpeakControl 26 2003 true
wait replyUserSpeakControl
# Both ways every frame of the two-second clips, however slowly the host
# plays them: carol's 30 camera and 100 microphone frames out of the SDK,
# the browser's 30 and 101 into it.
journal 30 size=320x240 30000
journal 100 format=1/16000/16 30000
journal 30 CVAPI_InputVideoDataEx 30000
journal 101 CVAPI_InputAudioDataEx 30000
call webrtcConsult 24 "$candidate"
wait replyWebrtcConsult
wait notifyUserAtRoom
call getRoomOnlineUsers 4 5
wait replyGetRoomOnlineUsers
call userSpeakControl 5 2001 false
wait replyUserSpeakControl
call sendTextMessage 6 2001 false "hello from the browser"
wait replySendTextMessage
call transBuffer 7 2001 "{\"cmd\":\"ping\",\"to\":\"张三\"}"
wait replyTransBuffer
wait notifySendTextMessage
wait notifyTransBuffer
wait notifyCoreSDKEvent
wait notifyCoreSDKEvent
call leaveRoom 30 5
wait replyLeaveRoom
call setGeneralParam 31 1 "{\"accessversion\":\"demo\",\"browsertype\":4,\"debugflag\":8,\"debuglevel\":4,\"h5handlestreamtype\":2,\"platformtype\":1}"
call enterRoom 32 5 "" 0
wait replyEnterRoom
call consultParam 33 1 "{\"control\":1,\"peerconnectionid\":\"browser-data\",\"streamindex\":0,\"streamtype\":1,\"userid\":1001}"
wait replyConsultParam
call webrtcConsult 34 "{\"peerconnectionid\":\"browser-data\",\"sdp\":\"$dataoffer\",\"type\":\"offer\"}"
wait replyWebrtcConsult
# The stream plays, the channel falls silent, quillgate asks for a reset
# after 5 s and the stream plays anew: then the SDK has had 60 more video
# frames and 202 more audio frames than the first stay's.
journal 90 CVAPI_InputVideoDataEx 30000
journal 303 CVAPI_InputAudioDataEx 30000
call logout 9
wait replyLogout
SCRIPT

# What must be seen, one step a line: name|pattern, of the gateway's lines,
# or of quillgate's log (log:), the media library's journal (rtc:), the
# SDK's journal of the second room stay (dc:) or the parent's lines
# (parent:); or a media stream (media:journal:line prefix:tool:fixture)
# whose frames' lengths and CRC-32s are the tool's list of the fixture.
steps='registration|^recv initiateQiullgateDelegate\(.*\) -> 0$
heartbeat|^(call|result) heartBeat\(\) -> 0$
init parameters|^(call|result) setGeneralParam\(1, 1, .*\) -> 0$
media library loaded|log:load libcorvanewebrtcsdk\.so success!
login|^recv replyLogin\("standin-session", 2, 1001, 0\)
room 5|^recv replyEnterRoom\("standin-session", 3, 0, 5\)
user list|^recv notifyOnlineUser\("standin-session", 0, 5, 
carol arrives|^recv notifyUserAtRoom\("standin-session", 0, 2003, "carol", true, 
receiving peer|^recv replyConsultParam\("standin-session", 20, 0, 1, 
library offer|^recv notifyWebrtcConsult\("standin-session", 0, "\{\\"peerconnectionid\\":\\"carol-video\\",\\"sdp\\"
candidates to the browser|^recv notifyWebrtcConsult\("standin-session", 0, "\{\\"candidate\\".*carol-video
browser answer|^recv replyWebrtcConsult\("standin-session", 21, 0, ""\)
sending peer|^recv replyConsultParam\("standin-session", 22, 0, 1, 
library answer|^recv notifyWebrtcConsult\("standin-session", 0, "\{\\"peerconnectionid\\":\\"own-camera\\".*answer
candidate to the library|^recv replyWebrtcConsult\("standin-session", 24, 0, ""\)
carol leaves|^recv notifyUserAtRoom\("standin-session", 0, 2003, "carol", false, 
her peer ends|rtc:^CVRTC_Destroy 1 = 0
room ids|^recv replyGetRoomOnlineUsers\("standin-session", 4, 0, 5, 
microphone|^recv replyUserSpeakControl\("standin-session", 5, 2001, 0\)
text sent|^recv replySendTextMessage\("standin-session", 6, 0\)
buffer sent|^recv replyTransBuffer\("standin-session", 7, 0\)
text received|^recv notifySendTextMessage\("standin-session", 0, 2001, 1001, false, "hello from 2001"\)
buffer received|^recv notifyTransBuffer\("standin-session", 0, 2001, 
event in pieces|^recv notifyCoreSDKEvent\("standin-session", 12, .*spliceflag
room again|^recv replyEnterRoom\("standin-session", 32, 0, 5\)
data-channel peer|^recv replyConsultParam\("standin-session", 33, 0, 1, 
data channel opens|log:CWebRtcConnect::ResetDataChnlConfig: Handle:3, peerId:browser-data, ChnlId:1, 
data-channel video format|dc:^CVAPI_SetInputVideoFormatEx 0 3 0 320 240 15 0 = 0$
data-channel audio format|dc:^CVAPI_SetInputAudioFormatEx 0 21 1 48000 16 0 = 0$
silence asks for a reset|^recv notifyWebrtcConsult\("standin-session", 0, "\{\\"peerconnectionid\\":\\"browser-data\\",\\"type\\":\\"resetdatachannel\\"\}"\)
channel opens again|log:CWebRtcConnect::ResetDataChnlConfig: Handle:3, peerId:browser-data, ChnlId:2, 
logout|^recv replyLogout\("standin-session", 9, 0\)
peers end at logout|rtc:^CVRTC_UnInitialize = 0
quillgate exit 0|^quillgate exit 0$
parent registration|parent:^recv .* cmd 1000 
parent result|parent:^sent .* cmd 1001 
parent goodbye|parent:^recv .* cmd 1004 
carol camera to the browser|media:rtc:CVRTC_InputVideoStreamData 1 :packets:camera_320x240_15fps.ivf
carol microphone to the browser|media:rtc:CVRTC_InputAudioStreamData 1 :pcm:mic_16k_mono.s16le
browser camera to the SDK|media:sdk:CVAPI_InputVideoDataEx :packets:camera_320x240_15fps.ivf
browser microphone to the SDK|media:sdk:CVAPI_InputAudioDataEx :packets:mic_16k_mono.opus.ogg
camera over the data channel|media:dc:CVAPI_InputVideoDataEx :twice_video:stream_vp8_opus.webm
microphone over the data channel|media:dc:CVAPI_InputAudioDataEx :twice_audio:stream_vp8_opus.webm
no warnings|'

# An SDK event of 7000 bytes and more: it reaches the gateway in pieces.
{ printf '{"event":"roomstats","detail":"'; head -c 7000 /dev/zero | tr '\0' 'x'; printf '"}'; } > "$logs/event.json"
hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }
seen() {
  for _ in $(seq 400); do
    grep -q "$1" "$out" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# The SDK reads room events from this FIFO, the media library its commands
# from the other; held open read-write here so writes never block.
mkfifo "$control" "$rtccontrol"
exec 3<>"$control"
exec 4<>"$rtccontrol"

# The data channel of a description (only the second room stay's has one)
# sends the file at once when it opens.
echo "datafile $media/stream_vp8_opus.webm pace=fast" >&4
(
  # Carol comes once the room's list has reached the gateway, and leaves
  # once the browser's candidate for its own camera has been taken.
  seen '^recv notifyOnlineUser(' && echo "user enter 2003 name=6361726f6c camera=1 speak=1" >&3
  seen '^recv replyWebrtcConsult("standin-session", 24,' && echo "user leave 2003" >&3
  # 2001 answers the browser's buffer: a text, a GB2312 buffer, an event.
  seen '^recv replyTransBuffer(' || exit 0
  echo "text 2001 1001 0 $(hex 'hello from 2001')" >&3
  echo "buffer 2001 $(printf '{"cmd":"pong","from":"\xd5\xc5\xc8\xfd"}' | od -An -tx1 | tr -d ' \n')" >&3
  echo "event 12 @$logs/event.json" >&3
  # Once quillgate has asked the silent data channel for a reset, it opens
  # again (channel 2) and sends the file anew.
  seen 'resetdatachannel' && echo "datasend 3 $media/stream_vp8_opus.webm pace=fast channel=2" >&4
) &
feeder=$!

# A parent server that quillgate reports to (-f).
"$bin/standin-parent" -p 0 </dev/null >"$parentout" &
parent=$!
for _ in $(seq 100); do grep -q '^listening' "$parentout" 2>/dev/null && break; sleep 0.05; done
parent_port=$(sed -n 's/^listening 127.0.0.1://p' "$parentout")

echo "== gateway (call: what the gateway sent; recv: what quillgate sent back; in wire order)"
QG_SDK_LOG="$sdklog" QG_SDK_JOURNAL="$journal" QG_SDK_CONTROL="$control" QG_RTC_JOURNAL="$rtcjournal" \
  QG_RTC_CONTROL="$rtccontrol" "$bin/standin-gateway" -Q -w 10 -S "$logs/script" -- -f "$parent_port" 2>&1 | tee "$out" || status=$?
wait "$feeder" 2>/dev/null || true
feeder=""
kill "$parent" 2>/dev/null && wait "$parent" 2>/dev/null || true
parent=""
echo "== parent server (recv: what quillgate sent over UDP; sent: the parent's answers)"
cat "$parentout"
# Frames are counted in the media section, not listed.
frame_lines='^(cb (video|audio) [-0-9]+ seq=|cb data [0-9]+ chan=|CVAPI_Input(Video|Audio)DataEx |CVRTC_Input(Video|Audio)StreamData )'
echo "== SDK calls made by quillgate (frames in the media section)"
grep -vE "$frame_lines" "$journal" 2>/dev/null || true
echo "== media-library calls and callbacks (long texts cut at 200 characters; frames in the media section)"
grep -vE "$frame_lines" "$rtcjournal" 2>/dev/null | cut -c1-200 || true

# A stream's frames as "<length> CRC32:<hex>" lines, and the tools' list for
# a fixture: the packets ffprobe lists, or raw PCM in ffmpeg's 20 ms frames.
# The SDK's journal of one room stay: the first (sdk) or the second (dc).
stay() {
  case $1 in
    sdk) awk '/^CVAPI_LeaveRoom /{ exit } { print }' "$journal" 2>/dev/null ;;
    dc) awk 'left { print } /^CVAPI_LeaveRoom /{ left = 1 }' "$journal" 2>/dev/null ;;
    *) cat "$rtcjournal" 2>/dev/null ;;
  esac
}
frames() { stay "$1" | grep "^$2" | sed -n 's/.* len=\([0-9]*\) .*crc=\(CRC32:[0-9a-f]*\).*/\1 \2/p'; }
packets() {
  ffprobe -v error -show_entries packet=size,data_hash -show_data_hash CRC32 -of default=nw=1 "$1" 2>/dev/null |
    awk -F= '$1 == "size" { size = $2 } $1 == "data_hash" { print size " " $2 }'
}
# One medium of a container file, played twice (its first play, then the
# one from packet 0 after the channel opened again).
medium() {
  ffprobe -v error -select_streams "$1" -show_entries packet=size,data_hash -show_data_hash CRC32 -of default=nw=1 \
    "$2" 2>/dev/null | awk -F= '$1 == "size" { size = $2 } $1 == "data_hash" { print size " " $2 }'
}
twice_video() { medium v:0 "$1"; medium v:0 "$1"; }
twice_audio() { medium a:0 "$1"; medium a:0 "$1"; }
pcm() {
  ffmpeg -v error -nostdin -f s16le -ar 16000 -ac 1 -i "$1" -af asetnsamples=n=320:p=0 -c:a pcm_s16le -f framehash -hash crc32 - \
    2>/dev/null | awk -F', *' '!/^#/ { print $5 " CRC32:" $6 }'
}
# media NAME JOURNAL PREFIX TOOL FIXTURE: one line with the count and the verdict; true when they agree.
stream() {
  local got want n list=$5
  case $4 in twice_*) list="$5 twice" ;; esac
  got=$(frames "$2" "$3")
  want=$("$4" "$media/$5")
  n=$(printf '%s' "$got" | grep -c . || true)
  if [ -z "$want" ]; then
    echo "$1: $n frames, not checked (no ffmpeg tools or no $5)"
    return 1
  elif [ "$got" = "$want" ]; then
    echo "$1: $n frames, CRC-32s as the tools list $list"
  else
    echo "$1: $n frames, CRC-32s NOT as the tools list $list ($(printf '%s\n' "$want" | grep -c .) frames)"
    return 1
  fi
}
echo "== media both ways (one line a stream: frames, and their CRC-32s against the tools' list)"
while IFS='|' read -r name pattern; do
  case $pattern in
    media:*)
      IFS=: read -r _ where prefix tool fixture <<< "$pattern"
      stream "$name" "$where" "$prefix" "$tool" "$fixture" < /dev/null > "$logs/media.$(printf '%s' "$name" | tr -c 'a-z' '_')" || true
      cat "$logs/media.$(printf '%s' "$name" | tr -c 'a-z' '_')"
      ;;
  esac
done <<< "$steps"
sent=$(grep -c '^cb data ' "$rtcjournal" 2>/dev/null || true)
taken=$(grep -c '^cb data .* = 0$' "$rtcjournal" 2>/dev/null || true)
echo "data channel to quillgate: $sent messages, $taken taken"
echo "== quillgate's log (SDK option 135)"
cat "$sdklog" 2>/dev/null || true
[ -s "$sdklog" ] && [ -n "$(tail -c1 "$sdklog")" ] && echo

passed=() failed=()
while IFS='|' read -r name pattern; do
  case $pattern in
    log:*) grep -qE "${pattern#log:}" "$sdklog" ;;
    rtc:*) grep -qE "${pattern#rtc:}" "$rtcjournal" ;;
    # Not "stay dc | grep -q": grep leaving at the first match ends the
    # writer with SIGPIPE, which pipefail makes a failed step.
    dc:*) grep -qE "${pattern#dc:}" <<< "$(stay dc)" ;;
    parent:*) grep -qE "${pattern#parent:}" "$parentout" ;;
    media:*) grep -q "CRC-32s as the tools list" "$logs/media.$(printf '%s' "$name" | tr -c 'a-z' '_')" ;;
    '') ! grep -qi 'warning' "$out" ;;
    *) grep -qE "$pattern" "$out" ;;
  esac && passed+=("$name") || failed+=("$name")
done <<< "$steps"
[ ${#failed[@]} -eq 0 ] || status=1

shown() {
  case $1 in "$PWD"/*) printf '%s' "${1#"$PWD"/}" ;; *) printf '%s' "$1" ;; esac
  [ -e "$1" ] && echo || echo " (not written)"
}
join() { [ $# -gt 0 ] || set -- none; local IFS=,; echo "$*" | sed 's/,/, /g'; }
echo "== logs"
echo "gateway:       $(shown "$out")"
echo "SDK calls:     $(shown "$journal")"
echo "media library: $(shown "$rtcjournal")"
echo "parent:        $(shown "$parentout")"
echo "quillgate:     $(shown "$sdklog")"
total=$(( ${#passed[@]} + ${#failed[@]} ))
if [ $status -eq 0 ]; then
  echo "demo: passed $total of $total steps ($(join "${passed[@]}")); exit status 0"
elif [ ${#failed[@]} -eq 0 ]; then
  echo "demo: FAILED: the gateway ended with status $status; passed $total of $total steps; exit status $status"
else
  echo "demo: FAILED ${#failed[@]} of $total steps ($(join "${failed[@]}"));" \
    "passed: $(join "${passed[@]}"); exit status $status"
fi
exit $status
