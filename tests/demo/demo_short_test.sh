#!/usr/bin/env bash
# The demo game in its short form, its file checked with ffprobe/ffmpeg: one
# 1280x720 AVC track holding every frame the muxer accepted, each different
# from the others and in the order drawn (the progress bar grows), the
# picture upright (the bar at the bottom), and one AAC track that lasts the
# recording and is not silent. Half-way the game's pause menu is open for
# about a second: its frames are refused and the file leaves it out. A
# loaded machine draws fewer frames, at uneven times: only content and order
# are judged, never a frame rate.
# Usage: demo_short_test.sh BUILD_DIR SOURCE_DIR OUT_DIR
set -euo pipefail
build=$1 src=$2 outdir=$3
mkdir -p "$outdir"
out=$outdir/demo_short.mp4
rm -f "$out"
log=$outdir/demo_short.out
"$src/samples/demo/run.sh" "$build" --seconds 2 "$out" | tee "$log"
accepted=$(sed -n 's/.* \([0-9][0-9]*\) accepted for the file.*/\1/p' "$log")
refused_paused=$(sed -n 's/.* \([0-9][0-9]*\) refused while paused.*/\1/p' "$log")
paused_for=$(sed -n 's/^demo: pause menu closed after \([0-9.]*\) s.*/\1/p' "$log")

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
check "every accepted frame recorded ($frames of ${accepted:-?})" test "$frames" = "${accepted:--1}"
check "enough frames to judge ($frames)" test "$frames" -ge 10
vdur=$(field v:0 duration)
# After the resume the picture goes on from the end of the sound pushed
# before the pause, up to one 1/30 s chunk after it.
check "video lasts at most the recording ($vdur)" between "$vdur" 1.0 2.1
check "audio is mp4a" test "$(field a:0 codec_tag_string)" = mp4a
check "audio is 44100 Hz stereo" test "$(field a:0 sample_rate,channels)" = "44100,2"
adur=$(field a:0 duration)
check "audio lasts 2 s ($adur)" between "$adur" 1.97 2.05
check "paused for about a second (${paused_for:-no pause})" between "${paused_for:-0}" 0.9 3
check "frames drawn while paused refused (${refused_paused:-?})" test "${refused_paused:-0}" -gt 0
fdur=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$out")
check "the file leaves the pause out ($fdur s for 2 s recorded)" between "$fdur" 1.97 2.5

# Every decoded frame, as stored (no frame dropped or repeated to even out
# the times), differs from every other.
decoded() { ffmpeg -v error -i "$out" -map 0:v -fps_mode passthrough "$@"; }
distinct=$(decoded -f framemd5 - | grep -v '^#' | awk -F, '{print $NF}' | sort -u | wc -l)
check "frames all differ ($distinct distinct of $frames)" test "$distinct" -eq "$frames"

# Order: the progress bar's green length (of 90 columns; it grows by about
# 1.5 a frame) never shrinks by more than the one column that coding noise
# can take from its edge, and grows over the recording.
bars=$(decoded -vf "crop=iw*0.9:ih*0.012:iw*0.05:ih*0.946,scale=90:1" -f rawvideo -pix_fmt rgb24 - |
  od -An -v -tu1 -w270 |
  awk '{ n = 0; for (i = 1; i <= NF; i += 3) if ($(i+1) > $i + 60 && $(i+1) > $(i+2) + 60) n++; print n }' |
  paste -sd' ')
check "frames in drawing order (bar lengths: $bars)" \
  awk -v b="$bars" 'BEGIN { n = split(b, v, " "); for (i = 2; i <= n; i++) if (v[i] < v[i-1] - 1) exit 1; exit !(n > 1 && v[n] > v[1] + 30) }'

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
