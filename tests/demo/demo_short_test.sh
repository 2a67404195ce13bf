#!/usr/bin/env bash
# The demo game in its short form, its file checked with ffprobe/ffmpeg: one
# 1280x720 AVC track of about 60 frames that change from frame to frame, the
# picture upright (the progress bar at the bottom), and one AAC track that
# lasts the recording and is not silent.
# Usage: demo_short_test.sh BUILD_DIR SOURCE_DIR OUT_DIR
set -euo pipefail
build=$1 src=$2 outdir=$3
mkdir -p "$outdir"
out=$outdir/demo_short.mp4
rm -f "$out"
"$src/samples/demo/run.sh" "$build" --seconds 2 "$out"

failures=0
check() {  # check "what" condition...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
field() {  # field STREAM KEY
  ffprobe -v error -count_frames -select_streams "$1" -show_entries "stream=$2" -of csv=p=0 "$out"
}
between() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

check "two streams" test "$(ffprobe -v error -show_entries stream=index -of csv=p=0 "$out" | wc -l)" -eq 2
check "video is avc1" test "$(field v:0 codec_tag_string)" = avc1
check "video is 1280x720" test "$(field v:0 width,height)" = "1280,720"
frames=$(field v:0 nb_read_frames)
# 61 frame slots of which the first is dropped by the muxer; a loaded
# machine may skip a few to stay in real time.
check "about 60 video frames ($frames)" between "$frames" 45 60
vdur=$(field v:0 duration)
check "video lasts about 2 s ($vdur)" between "$vdur" 1.85 2.05
check "audio is mp4a" test "$(field a:0 codec_tag_string)" = mp4a
check "audio is 44100 Hz stereo" test "$(field a:0 sample_rate,channels)" = "44100,2"
adur=$(field a:0 duration)
check "audio lasts 2 s ($adur)" between "$adur" 1.97 2.05

# Animation: nearly every decoded frame differs from the one before.
distinct=$(ffmpeg -v error -i "$out" -map 0:v -f framemd5 - | grep -v '^#' | awk -F, '{print $NF}' | sort -u | wc -l)
check "frames change ($distinct distinct of $frames)" test "$distinct" -ge $((frames * 9 / 10))

# Upright: near the end the progress bar (bottom left, green) is nearly full;
# flipped, that place would hold the dark sky above the clock.
rgb=$(ffmpeg -v error -sseof -0.2 -i "$out" -map 0:v \
  -vf "crop=iw*0.4:ih*0.012:iw*0.05:ih*0.946,scale=1:1" -frames:v 1 -f rawvideo -pix_fmt rgb24 - |
  od -An -tu1 | xargs)
read -r r g b <<<"$rgb"
check "progress bar green at the bottom (rgb $rgb)" test "$g" -gt $((r + 60)) -a "$g" -gt $((b + 60))

# Sound: the soundtrack is loud enough to hear.
peak=$(ffmpeg -v info -i "$out" -map 0:a -af volumedetect -f null - 2>&1 |
  sed -n 's/.*max_volume: \(-\{0,1\}[0-9.]*\) dB.*/\1/p')
check "soundtrack not silent (peak $peak dB)" between "${peak:--99}" -20 0

if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "PASS"
