#!/usr/bin/env bash
# Regenerates the media fixtures under tests/data/media with the ffmpeg
# command-line tool. The files are committed; run this only to change them.
# Every file is a few seconds of a test pattern and a tone, so the bytes are
# the same from one run to the next on the same ffmpeg build.
set -euo pipefail
out=${1:-"$(dirname "$0")/../tests/data/media"}
mkdir -p "$out"
ff() { ffmpeg -hide_banner -loglevel error -y -bitexact "$@"; }

cam="-f lavfi -i testsrc2=size=320x240:rate=15:duration=2"
mic="-f lavfi -i sine=frequency=440:sample_rate=16000:duration=2"

# A remote user's camera: H.264 Annex-B with access-unit delimiters, a key
# frame a second; and VP8 in IVF.
ff $cam -c:v libx264 -profile:v baseline -pix_fmt yuv420p -g 15 -bf 0 \
   -x264-params aud=1:keyint=15:min-keyint=15:scenecut=0 -f h264 "$out/camera_320x240_15fps.h264"
ff $cam -c:v libvpx -g 15 -b:v 300k -deadline realtime -cpu-used 8 -f ivf "$out/camera_320x240_15fps.ivf"

# A microphone: 16 kHz mono s16le (20 ms = 640 bytes), and Opus in Ogg.
ff $mic -ac 1 -f s16le "$out/mic_16k_mono.s16le"
ff $mic -ac 1 -c:a libopus -b:a 24k -frame_duration 20 -f ogg "$out/mic_16k_mono.opus.ogg"

# Container streams a browser sends over a data channel.
av="$cam -f lavfi -i sine=frequency=440:sample_rate=44100:duration=2"
h264="-c:v libx264 -profile:v baseline -pix_fmt yuv420p -g 15 -bf 0 -x264-params keyint=15:scenecut=0"
ff $av $h264 -c:a aac -b:a 64k -ac 1 -f flv "$out/stream_h264_aac.flv"
ff $av $h264 -c:a aac -b:a 64k -ac 1 -f mpegts "$out/stream_h264_aac.ts"
ff $av $h264 -c:a aac -b:a 64k -ac 1 -movflags frag_keyframe+empty_moov+default_base_moof -f mp4 \
   "$out/stream_h264_aac_frag.mp4"
ff $cam -f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 \
   -c:v libvpx -g 15 -b:v 300k -deadline realtime -cpu-used 8 -c:a libopus -b:a 32k -ac 1 \
   -f webm "$out/stream_vp8_opus.webm"

# Streams for the demuxer's edge cases: a second video stream behind the
# first (Motion JPEG, then VP8) with A-law audio; and no audio or video at all.
ff -f lavfi -i testsrc2=size=160x120:rate=5:duration=1 -f lavfi -i testsrc2=size=160x120:rate=5:duration=1 \
   -f lavfi -i sine=frequency=440:sample_rate=8000:duration=1 -map 0:v -map 1:v -map 2:a \
   -c:v:0 mjpeg -q:v 8 -c:v:1 libvpx -deadline realtime -cpu-used 8 -c:a pcm_alaw -ac 1 \
   -f matroska "$out/stream_mjpeg_vp8_alaw.mkv"
# Timing edge cases: H.264 with B-frames in AVI, which keeps decode times
# only (no presentation times); and a raw Annex-B stream with no times at all.
small="-f lavfi -i testsrc2=size=160x120:rate=15:duration=2"
ff $small -f lavfi -i sine=frequency=440:sample_rate=22050:duration=2 \
   -c:v libx264 -profile:v main -pix_fmt yuv420p -g 15 -bf 2 -x264-params keyint=15:min-keyint=15:scenecut=0:b-adapt=0 \
   -c:a aac -b:a 32k -ac 1 -f avi "$out/stream_h264_bframes_aac.avi"
ff $small -c:v libx264 -profile:v baseline -pix_fmt yuv420p -g 15 -bf 0 \
   -x264-params keyint=15:min-keyint=15:scenecut=0 -f h264 "$out/stream_h264_untimed.h264"
srt=$(mktemp --suffix=.srt)
printf '1\n00:00:00,000 --> 00:00:01,000\nno media here\n\n2\n00:00:01,000 --> 00:00:02,000\nnone\n' > "$srt"
ff -i "$srt" -c:s srt -f matroska "$out/stream_subtitles_only.mkv"
rm -f "$srt"

ls -l "$out"
