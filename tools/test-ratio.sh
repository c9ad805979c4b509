#!/usr/bin/env bash
# Prints how large the test suite is next to the code it tests:
#
#   tests 7,092 lines, code 13,924 lines: 50%
#
# Lines are the non-blank, non-comment lines of the .cpp and .h files (a line
# holding only a comment, or lying inside a /* */ block, is not counted; text
# inside string literals, raw ones included, is code). Tests are tests/; code is
# engine/, ui/, app/ and tools/. bench/ and fuzz/ are counted as neither: they
# are measuring and fuzzing harnesses, not the suite nor what ships, and the
# proportion is about the suite. The percentage is tests / code, rounded.
#
# Informational: it exits 0 whatever the ratio (and 0 with a note when it
# cannot count), so CI prints it without failing on it.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 0

# The tracked files under the given folders (every file when this is no git
# checkout, leaving out build folders).
sources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z -- "${@/%//*.cpp}" "${@/%//*.h}"
  else
    find "$@" \( -name build -prune \) -o -type f \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null
  fi
}

# Counts the non-blank, non-comment lines of the files named on stdin (NUL-separated).
count() {
  local files=()
  while IFS= read -r -d '' file; do [[ -f $file ]] && files+=("$file"); done
  ((${#files[@]})) || { echo 0; return; }
  awk '
    FNR == 1 { block = 0; raw = "" }
    {
      line = $0; n = length(line); code = 0; i = 1
      while (i <= n) {
        c = substr(line, i, 1)
        if (raw != "") {                       # inside R"delim( ... )delim"
          code = 1; e = index(substr(line, i), raw)
          if (e == 0) { i = n + 1 } else { i += e - 1 + length(raw); raw = "" }
          continue
        }
        if (block) {                           # inside /* ... */
          e = index(substr(line, i), "*/")
          if (e == 0) { i = n + 1 } else { i += e + 1; block = 0 }
          continue
        }
        two = substr(line, i, 2)
        if (two == "//") break
        if (two == "/*") { block = 1; i += 2; continue }
        if (c == " " || c == "\t" || c == "\r") { i++; continue }
        code = 1
        if (c == "R" && substr(line, i + 1, 1) == "\"") {
          p = index(substr(line, i + 2), "(")
          if (p > 0) { raw = ")" substr(line, i + 2, p - 1) "\""; i += 2 + p; continue }
        }
        if (c == "\"" || c == "\047") {        # an ordinary string or character literal
          q = c; i++
          while (i <= n) {
            d = substr(line, i, 1)
            if (d == "\\") { i += 2; continue }
            i++
            if (d == q) break
          }
          continue
        }
        i++
      }
      if (code) lines++
    }
    END { print lines + 0 }
  ' "${files[@]}"
}

# 13924 -> 13,924
thousands() { sed -E ':a; s/^([0-9]+)([0-9]{3})/\1,\2/; ta' <<<"$1"; }

tests=$(sources tests | count)
code=$(sources engine ui app tools | count)
if ! [[ $tests =~ ^[0-9]+$ && $code =~ ^[0-9]+$ ]] || ((code == 0)); then
  echo "test ratio: could not count the lines"
  exit 0
fi
echo "tests $(thousands "$tests") lines, code $(thousands "$code") lines: $(((tests * 100 + code / 2) / code))%"
