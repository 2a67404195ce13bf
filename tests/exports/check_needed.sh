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

. "$(dirname "$0")/compare_lists.sh"
compare_lists "$actual" "$wanted" "$library" "$list" "needed but not listed" \
  "listed but not needed" "needs the $(wc -w <<<"$actual") libraries of"
