#!/bin/sh
# Includes only go down. The folders under src are floors, from the top: packer, hosting,
# services, dialogs, ui, strings, common, and api under all of them. Every #include "..." line
# under src and samples is checked: a file may include its own floor and those below it; a
# sample plugin may include api alone. Each offending line is named; the status is 1 if any.
# Usage: check-floors.sh [ROOT]   (ROOT: the repository, by default the one holding this script)
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
[ -d "$root/src" ] || { echo "check-floors: no src folder under $root" >&2; exit 2; }
cd "$root" || exit 2
find src samples -type f -exec grep -Hn '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' {} + | LC_ALL=C sort | awk '
  BEGIN {
    n = split("api common strings ui dialogs services hosting packer", floors, " ")
    for (i = 1; i <= n; i++) rank[floors[i]] = i
    bad = 0
  }
  {
    # FILE:LINE:#include "PATH"
    file = $0; sub(/:.*/, "", file)
    rest = substr($0, length(file) + 2)
    line = rest; sub(/:.*/, "", line)
    path = rest; sub(/^[^"]*"/, "", path); sub(/".*/, "", path)
    split(file, parts, "/")
    if (parts[1] == "samples") {
      where = "the sample plugin " parts[2]
      top = 1
    } else {
      where = "floor " parts[2]
      if (!(parts[2] in rank)) { report("its folder src/" parts[2] " is no floor"); next }
      top = rank[parts[2]]
    }
    # A name without a folder is a file of the same floor (generated into the build tree).
    if (index(path, "/") == 0) {
      if (parts[1] == "samples") report("\"" path "\" is not from api")
      next
    }
    target = path; sub(/\/.*/, "", target)
    if (!(target in rank)) { report("\"" path "\" is on no floor"); next }
    if (rank[target] > top) report(where " includes \"" path "\" from the higher floor " target)
  }
  function report(text) {
    print file ":" line ": " text
    bad = 1
  }
  END {
    if (bad) exit 1
    print "check-floors: every include goes down"
  }'
