#!/usr/bin/env bash
# Compares the shared libraries a library needs (its DT_NEEDED entries) with
# the documented list of what it needs from the device. Each line of the list
# is a host library, then the device libraries it stands in for ('#'
# comments); "@LEVEL@" stands for the platform level of a level's build.
# Prints every difference; exits 1 if there is one.
# Usage: check_needed.sh <library> <list> [level]
set -uo pipefail
library=$1
list=$2
level=${3:-}

if ! dynamic=$(readelf -d "$library"); then
  echo "FAILED: cannot read the dynamic section of $library"
  exit 1
fi
actual=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic" | sort -u)
wanted=$(sed -e 's/#.*//' -e "s/@LEVEL@/$level/g" "$list" | awk 'NF { print $1 }' | sort -u)

unlisted=$(comm -13 <(echo "$wanted") <(echo "$actual"))
missing=$(comm -23 <(echo "$wanted") <(echo "$actual"))
[ -n "$unlisted" ] && printf 'needed but not listed: %s\n' $unlisted
[ -n "$missing" ] && printf 'listed but not needed: %s\n' $missing
if [ -n "$unlisted$missing" ]; then
  echo "FAILED: $(basename "$library") needs other libraries than $(basename "$list") lists"
  exit 1
fi
echo "PASS: $(basename "$library") needs the $(wc -w <<<"$actual") libraries of $(basename "$list")"
