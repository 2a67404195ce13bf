# Sourced by the export and dependency checks: compares what a library has
# with what its list documents, prints every difference and the verdict.
#   compare_lists <actual> <wanted> <library> <list> <only-actual text> <only-wanted text> <pass text>
compare_lists() {
  local actual=$1 wanted=$2 library=$3 list=$4
  local extra missing
  extra=$(comm -13 <(echo "$wanted") <(echo "$actual"))
  missing=$(comm -23 <(echo "$wanted") <(echo "$actual"))
  [ -n "$extra" ] && printf '%s: %s\n' "$5" $extra
  [ -n "$missing" ] && printf '%s: %s\n' "$6" $missing
  if [ -n "$extra$missing" ]; then
    echo "FAILED: $(basename "$library") differs from $(basename "$list")"
    exit 1
  fi
  echo "PASS: $(basename "$library") $7 $(basename "$list")"
}
