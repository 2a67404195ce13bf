#!/usr/bin/env bash
# The shape of the product code (android/, jni/, unity/):
#   --format  every .cpp/.h is as clang-format (.clang-format) would write it
#   --length  no function is longer than 80 lines, from the line with its
#             name to its closing brace (as universal-ctags sees them)
# With no option, both. Exits 1 when a check fails, naming what fails.
# Usage: scripts/check_shape.sh [--format] [--length]
set -uo pipefail
cd "$(dirname "$0")/.."

PRODUCT_DIRS=(android jni unity)
MAX_FUNCTION_LINES=80

product_sources() {
  find "${PRODUCT_DIRS[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) | sort
}

check_format() {
  echo "--- format (clang-format $(clang-format --version | grep -Eo '[0-9]+\.[0-9.]+' | head -1))"
  local unformatted=()
  local file
  while read -r file; do
    clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
  done < <(product_sources)
  if [ ${#unformatted[@]} -eq 0 ]; then
    echo "every product source is formatted"
    return 0
  fi
  local f
  for f in "${unformatted[@]}"; do
    echo "not formatted: $f ($(clang-format "$f" | diff "$f" - | grep -c '^>') lines differ)"
  done
  echo "FAILED: ${#unformatted[@]} product sources differ from clang-format's output" \
       "(see one with: clang-format --dry-run FILE)"
  return 1
}

check_length() {
  echo "--- function length (at most $MAX_FUNCTION_LINES lines)"
  local long
  long=$(ctags --sort=no --languages=C++ --fields=+ne --kinds-C++=f -o - -R "${PRODUCT_DIRS[@]}" |
    awk -F'\t' -v max="$MAX_FUNCTION_LINES" '
      {
        line = 0; end = 0; scope = ""
        for (i = 4; i <= NF; i++) {
          if ($i ~ /^line:/) line = substr($i, 6)
          else if ($i ~ /^end:/) end = substr($i, 5)
          else if ($i ~ /^(class|struct|namespace):/) { scope = $i; sub(/^[a-z]+:/, "", scope) }
        }
        length_ = end - line + 1
        if (end > 0 && length_ > max) {
          name = (scope != "" && scope !~ /__anon/) ? scope "::" $1 : $1
          printf "%5d lines  %s:%d  %s\n", length_, $2, line, name
        }
      }' | sort -rn)
  if [ -z "$long" ]; then
    echo "every product function is short enough"
    return 0
  fi
  echo "$long"
  echo "FAILED: $(wc -l <<<"$long") product functions are longer than $MAX_FUNCTION_LINES lines"
  return 1
}

format=0
length=0
for arg in "$@"; do
  case "$arg" in
    --format) format=1 ;;
    --length) length=1 ;;
    *) echo "usage: $0 [--format] [--length]" >&2; exit 2 ;;
  esac
done
if [ $format = 0 ] && [ $length = 0 ]; then
  format=1
  length=1
fi

status=0
if [ $format = 1 ]; then check_format || status=1; fi
if [ $length = 1 ]; then check_length || status=1; fi
exit $status
