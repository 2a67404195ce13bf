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

undocumented=$(comm -13 <(echo "$wanted") <(echo "$actual"))
missing=$(comm -23 <(echo "$wanted") <(echo "$actual"))
[ -n "$undocumented" ] && printf 'exported but not documented: %s\n' $undocumented
[ -n "$missing" ] && printf 'documented but not exported: %s\n' $missing
if [ -n "$undocumented$missing" ]; then
  echo "FAILED: $(basename "$library") differs from $(basename "$expected")"
  exit 1
fi
echo "PASS: $(basename "$library") exports the $(wc -l <<<"$actual") names of $(basename "$expected")"
