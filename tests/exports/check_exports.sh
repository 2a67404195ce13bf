#!/usr/bin/env bash
# Compares the symbols a shared library defines in its dynamic symbol table
# with the list of what it documents as its exports (one name a line, '#'
# comments). Prints every difference; exits 1 if there is one.
# Usage: check_exports.sh <library> <expected list>
set -uo pipefail
library=$1
expected=$2

if ! symbols=$(nm -D --defined-only "$library"); then
  echo "FAILED: cannot read the dynamic symbols of $library"
  exit 1
fi
# The name is the last field; a version suffix (name@@VER) is not part of it.
actual=$(awk 'NF >= 2 { sub(/@.*/, "", $NF); print $NF }' <<<"$symbols" | sort -u)
wanted=$(sed -e 's/#.*//' -e 's/[[:space:]]//g' -e '/^$/d' "$expected" | sort -u)

. "$(dirname "$0")/compare_lists.sh"
compare_lists "$actual" "$wanted" "$library" "$expected" "exported but not documented" \
  "documented but not exported" "exports the $(wc -l <<<"$actual") names of"
