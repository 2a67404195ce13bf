#!/usr/bin/env bash
# Records the demo MP4 the way a game would use the kit: installs what is
# missing, builds, runs the demo game (samples/demo) for DEMO_SECONDS seconds
# (default 10) at 1280x720 and 30 fps, with the game's pause menu open for
# DEMO_PAUSE seconds half-way (default 1; the recording is paused meanwhile,
# so the file lasts the time recorded), prints what ffprobe sees in the file
# and, with ffmpeg, writes a contact sheet of its frames next to it (.png).
#
# Usage: scripts/demo.sh [--x86] [--seconds S] [--pause P] [output.mp4] (default out/demo.mp4)
#   --x86: record with the 32-bit x86 build (build-x86/, the ABI the kit ships
#          in) in the i386 JVM; set-up then installs and builds it too. Where
#          the kernel runs no i386 program it runs through qemu-i386, in the
#          JVM's interpreter, and the recording cannot keep real time.
# Environment: DEMO_SECONDS, DEMO_PAUSE, DEVICE_PROFILE (platform/devices/*.prop),
#              DEMO_SKIP_SETUP=1 to use the existing build as it is.
set -euo pipefail
cd "$(dirname "$0")/.."

out=out/demo.mp4
seconds=${DEMO_SECONDS:-10}
pause=${DEMO_PAUSE:-1}
build=build
setup_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --x86) build=build-x86; setup_args=(--x86); shift ;;
    --seconds) seconds=${2:?--seconds needs a value}; shift 2 ;;
    --seconds=*) seconds=${1#--seconds=}; shift ;;
    --pause) pause=${2:?--pause needs a value}; shift 2 ;;
    --pause=*) pause=${1#--pause=}; shift ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    -*) echo "demo: unknown option $1" >&2; exit 2 ;;
    *) out=$1; shift ;;
  esac
done

if [ "$build" = build-x86 ]; then
  . scripts/x86_exec.sh
  x86_exec_prepare || exit 1
  trap x86_exec_release EXIT
fi
if [ "${DEMO_SKIP_SETUP:-0}" != 1 ]; then
  scripts/setup.sh "${setup_args[@]}"
fi
if [ -n "${DEVICE_PROFILE:-}" ]; then
  [ -f "$DEVICE_PROFILE" ] || { echo "demo: no device profile $DEVICE_PROFILE" >&2; exit 2; }
  model=$(sed -n 's/^ro.product.model=//p' "$DEVICE_PROFILE" | tail -1)
  level=$(sed -n 's/^ro.build.version.sdk=//p' "$DEVICE_PROFILE" | tail -1)
  echo "demo: simulated device \"${model:-?}\" (level ${level:-?}) from $DEVICE_PROFILE"
fi

mkdir -p "$(dirname "$out")"
if [ "$build" = build-x86 ]; then
  echo "demo: recording with the 32-bit x86 libraries (build-x86/lib) in the i386 JVM ($X86_EXEC_MODE)"
  if [ "$X86_EXEC_MODE" = emulated ]; then
    # The i386 JVM's compilers crash under qemu-i386.
    export JAVA_TOOL_OPTIONS="${JAVA_TOOL_OPTIONS:-} -Xint"
    echo "demo: emulated, the game runs far below real time: expect frames and sound dropped"
  fi
fi
samples/demo/run.sh "$build" --seconds "$seconds" --pause "$pause" "$out"

# What a player will find in the file.
if ! command -v ffprobe >/dev/null; then
  echo "demo: no ffprobe here (package ffmpeg): no summary, no contact sheet"
  exit 0
fi
echo
echo "== $out as ffprobe sees it"
probe() { ffprobe -v error "$@" "$out"; }
probe -show_entries format=duration,size,bit_rate -of default=nw=1 |
  awk -F= '{v[$1]=$2} END {printf "file:  %.2f s, %d bytes, %.0f kbit/s\n", v["duration"], v["size"], v["bit_rate"]/1000}'
probe -count_frames -show_entries \
  stream=index,codec_type,codec_name,profile,codec_tag_string,width,height,avg_frame_rate,sample_rate,channel_layout,bit_rate,nb_read_frames,duration \
  -of compact=p=0:nk=0 |
  awk -F'|' '{
    delete v; for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
    if (v["codec_type"] == "video") {
      split(v["avg_frame_rate"], r, "/"); fps = r[2] > 0 ? r[1] / r[2] : 0
      printf "video: #%s %s (%s, %s) %sx%s, %s frames, %.2f s, %.1f fps, %.0f kbit/s\n",
        v["index"], v["codec_name"], v["codec_tag_string"], v["profile"], v["width"], v["height"],
        v["nb_read_frames"], v["duration"], fps, v["bit_rate"] / 1000
    } else {
      printf "audio: #%s %s (%s, %s) %s Hz %s, %s frames, %.2f s, %.0f kbit/s\n",
        v["index"], v["codec_name"], v["codec_tag_string"], v["profile"], v["sample_rate"],
        v["channel_layout"], v["nb_read_frames"], v["duration"], v["bit_rate"] / 1000
    }
  }'
# Top-level boxes in file order (ftyp, moov/free, mdat, ...).
ffprobe -v trace "$out" 2>&1 | sed -n "s/.*type:'\(....\)' parent:'root' sz: \([0-9]*\) .*/\1(\2)/p" |
  paste -sd' ' | sed 's/^/boxes: /'

# Contact sheet: twelve frames spread over the recording, 4 x 3.
if command -v ffmpeg >/dev/null; then
  sheet=${out%.*}.png
  frames=$(probe -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0)
  step=$(( frames > 12 ? frames / 12 : 1 ))
  ffmpeg -v error -y -i "$out" \
    -vf "select='not(mod(n\,$step))',scale=320:-2,tile=4x3:padding=4:margin=4" \
    -frames:v 1 -update 1 "$sheet"
  echo "contact sheet: $sheet (every ${step}th frame)"
fi
