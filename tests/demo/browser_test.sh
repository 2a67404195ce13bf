#!/usr/bin/env bash
# The demo's file in a browser: headless Chromium loads it into a <video>
# (tests/demo/first_frame.html) from file://. The browser must say it can
# play the file's codecs ("probably", the AVC one as its avcC names it), see
# a 1280x720 picture and decode the first frame: that frame's mean colour,
# top half and bottom half, within 12 levels of what ffmpeg decodes (so it
# is upright too).
# Usage: browser_test.sh FILE.mp4 SOURCE_DIR
set -euo pipefail
file=$(realpath "$1") src=$2
failures=0
check() {  # check "what" condition...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# avc1.PPCCLL: profile, constraint flags and level, the bytes after avcC's version.
at=$(grep -obUa avcC "$file" | head -1 | cut -d: -f1)
avc=$(od -An -tx1 -j$((at + 5)) -N3 "$file" | tr -d ' \n' | tr a-f A-F)
uri() { sed 's/%/%25/g; s/ /%20/g; s/#/%23/g; s/&/%26/g; s/?/%3F/g; s/+/%2B/g' <<<"$1"; }
query="src=$(uri "file://$file")&avc=$avc"

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
ask_chromium() {
  timeout 90 chromium --headless=new --no-sandbox --disable-gpu --mute-audio \
    --user-data-dir="$profile" --allow-file-access-from-files --virtual-time-budget=10000 \
    --dump-dom "file://$(realpath "$src")/tests/demo/first_frame.html?$query" 2>/dev/null |
    sed -n 's/.*<pre id="out">\([^<]*\)<.*/\1/p'
}
said=$(ask_chromium)
# A busy machine can end the page's time budget before the video loaded:
# that is no answer, and the browser is asked once more.
if ! grep -q ' rgb=' <<<"$said"; then said=$(ask_chromium); fi
echo "chromium: $said"
check "both codecs playable (avc1.$avc, mp4a.40.2)" grep -q 'can=probably,probably ' <<<"$said"
check "picture 1280x720" grep -q ' size=1280x720 ' <<<"$said"
want=$(ffmpeg -v error -i "$file" -map 0:v -frames:v 1 -vf scale=1:2:flags=area \
  -f rawvideo -pix_fmt rgb24 - | od -An -tu1 | xargs)
got=$(sed -n 's/.* rgb=\([0-9 ]*\)$/\1/p' <<<"$said")
check "first frame decoded as ffmpeg does (top, bottom rgb: $got; ffmpeg $want)" \
  awk -v a="$got" -v b="$want" 'BEGIN { n = split(a, x, " "); split(b, y, " ")
    if (n != 6) exit 1; for (i = 1; i <= 6; i++) if (x[i] - y[i] > 12 || y[i] - x[i] > 12) exit 1 }'

if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "PASS"
