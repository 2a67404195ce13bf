#!/usr/bin/env bash
# A second opinion on a recording: GStreamer's demuxer and decoders (qtdemux,
# avdec_h264, aacparse + avdec_aac), which share no code with the kit's
# writer nor with ffprobe's demuxer, decode every track of each FILE; each
# track must give as many decoded buffers as ffprobe counts frames
# (nb_read_frames), except where qtdemux is known to differ (GStreamer 1.22):
# - AAC priming: the encoder's priming frame lies before the edit; ffprobe
#   drops it, avdec_aac puts out one buffer clipped to under 1 ms (1 ns) in
#   its place. Only buffers of at least 1 ms count; at most one shorter one
#   may come, the first.
# - qtdemux ends every track at the movie's duration (mvhd) in media time,
#   the priming included, where ffprobe plays the edit: a frame that starts
#   there or later is not put out (the last AAC frame, when the sound is the
#   longest track and mvhd is rounded down to the millisecond).
# - qtdemux skips a track whose media (mdhd) lasts less than a fifth of the
#   movie (mvhd), taking it for a preview image: after an encoder fault
#   early in a recording only the other track is decoded; the judge says so.
# A header duration shorter than the samples makes qtdemux stop early and
# fails; so does any error or warning GStreamer posts, or a hang (60 s).
# Usage: judge_gstreamer.sh FILE...
set -euo pipefail

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# "type offset size" of the boxes on the way to the headers, in file order.
boxes() {  # FILE [FROM TO]
  local file=$1 at=${2:-0} end=${3:-$(stat -c %s "$1")} type size
  while [ "$at" -lt "$end" ]; do
    read -r type size < <(od -An -tu1 -v -j"$at" -N16 "$file" | xargs | awk -v left=$((end - at)) '{
      s = (($1 * 256 + $2) * 256 + $3) * 256 + $4
      if (s == 1) { s = 0; for (i = 9; i <= 16; i++) s = s * 256 + $i }
      if (s == 0) s = left
      printf "%c%c%c%c %d\n", $5, $6, $7, $8, s }')
    [ "${size:-0}" -ge 8 ] || return 0
    case $type in
      moov|trak|mdia) echo "$type $at $size"; boxes "$file" $((at + 8)) $((at + size)) ;;
      mvhd|mdhd) echo "$type $at $size" ;;
    esac
    at=$((at + size))
  done
}

# "timescale duration" of the mvhd or mdhd box at OFFSET.
header_duration() {  # FILE OFFSET
  od -An -tu1 -v -j$(($2 + 8)) -N32 "$1" | xargs | awk '{
    if ($1 == 0) { ts = 13; du = 17; n = 4 } else { ts = 21; du = 25; n = 8 }
    t = 0; for (i = ts; i < ts + 4; i++) t = t * 256 + $i
    d = 0; for (i = du; i < du + n; i++) d = d * 256 + $i
    print t, d }'
}

# Frames of stream INDEX that start, in media time, at or after the movie's end.
frames_past_movie() {  # FILE INDEX TIME_BASE_DEN MOVIE_SCALE MOVIE_DURATION
  ffprobe -v error -select_streams "$2" -show_entries packet=pts -of csv=p=0 "$1" |
    awk -v den="$3" -v ms="$4" -v md="$5" -F, '
      NR == 1 && $1 < 0 { shift = -$1 }
      { if (($1 + shift) * ms >= md * den) n++ }
      END { print n + 0 }'
}

judge() {
  local file=$1 branches=() expect=() layout index codec tb frames mscale mdur
  [ -s "$file" ] || { fail "$file: no file"; return; }
  layout=$(boxes "$file")
  read -r mscale mdur < <(header_duration "$file" "$(awk '$1 == "mvhd" { print $2 }' <<<"$layout")") ||
    { fail "$file: no mvhd"; return; }
  local media=() at
  for at in $(awk '$1 == "mdhd" { print $2 }' <<<"$layout"); do media+=("$(header_duration "$file" "$at")"); done
  while IFS=, read -r index codec tb frames; do
    local past kind tscale tdur
    read -r tscale tdur <<<"${media[$index]:-1 0}"
    if [ $((5 * tdur * mscale)) -lt $((tscale * mdur)) ]; then
      echo "$file: $codec: $frames frames over $tdur/$tscale s, under a fifth of the movie's $mdur/$mscale s: GStreamer skips the track"
      continue
    fi
    past=$(frames_past_movie "$file" "$index" "${tb#1/}" "$mscale" "$mdur")
    case $codec in
      h264) kind=video
            branches+=(d.video_0 ! queue ! avdec_h264 ! multifilesink name=video
                       location=/dev/null post-messages=true) ;;
      aac) kind=audio
           branches+=(d.audio_0 ! queue ! aacparse ! avdec_aac ! multifilesink name=audio
                      location=/dev/null post-messages=true) ;;
      *) fail "$file: unexpected track $codec"; continue ;;
    esac
    expect+=("$kind $frames $past")
  done < <(ffprobe -v error -count_frames -show_entries stream=index,codec_name,time_base,nb_read_frames \
             -of csv=p=0 "$file")
  [ ${#expect[@]} -gt 0 ] || { fail "$file: no track to decode"; return; }
  local said
  said=$(timeout 60 gst-launch-1.0 -m filesrc location="$file" ! qtdemux name=d "${branches[@]}" 2>&1) ||
    fail "$file: gst-launch-1.0 exited with $? (124: it hung)"
  if grep -E '^Got message .* \((error|warning)\)' <<<"$said"; then fail "$file: GStreamer complained"; fi
  local e kind frames past want got short first_short buffers note
  for e in "${expect[@]}"; do
    read -r kind frames past <<<"$e"
    want=$((frames - past))
    # One line per buffer: "index duration" in ns.
    buffers=$(grep "from element \"$kind\" (element): GstMultiFileSink" <<<"$said" |
      sed 's/.*index=(int)\([0-9]*\),.*duration=(guint64)\([0-9]*\),.*/\1 \2/' || true)
    short=0
    if [ "$kind" = video ]; then
      got=$(grep -c . <<<"$buffers" || true)
    else
      got=$(awk '$2 >= 1000000' <<<"$buffers" | grep -c . || true)
      short=$(awk '$2 < 1000000' <<<"$buffers" | grep -c . || true)
      first_short=$(awk '$2 < 1000000 { print $1; exit }' <<<"$buffers")
      if [ "$short" -gt 1 ] || { [ "$short" = 1 ] && [ "$first_short" != 0 ]; }; then
        fail "$file: $kind: $short buffers under 1 ms (the first at index $first_short)"
      fi
    fi
    note=""
    [ "$short" = 1 ] && note="$note, and the priming one"
    [ "$past" = 0 ] || note="$note; ffprobe $frames, $past of them past the movie's end"
    echo "$file: $kind: GStreamer $got buffers, $want expected$note"
    [ "$got" = "$want" ] || fail "$file: $kind: GStreamer decoded $got buffers, $want expected"
  done
}

for f in "$@"; do judge "$f"; done
if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "PASS"
