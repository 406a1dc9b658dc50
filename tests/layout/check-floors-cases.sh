#!/bin/sh
# The floor check against small trees with one include each: the allowed ones pass, every other
# fails and names the file and line.
# Usage: check-floors-cases.sh WORKDIR
check="$(cd "$(dirname "$0")" && pwd)/check-floors.sh"
work=${1:?work folder}
status=0
n=0
# expect | file | include line
while IFS='|' read -r expect file include; do
  [ -n "$expect" ] || continue
  n=$((n + 1))
  tree="$work/case$n"
  rm -rf "$tree"
  mkdir -p "$tree/src" "$tree/samples" "$tree/$(dirname "$file")"
  printf '// case\n%s\n' "$include" >"$tree/$file"
  out=$(sh "$check" "$tree" 2>&1)
  rc=$?
  if [ "$expect" = pass ] && [ $rc -ne 0 ]; then
    echo "FAIL case $n ($file: $include): rejected: $out"; status=1
  elif [ "$expect" = fail ] && { [ $rc -ne 1 ] || ! printf '%s\n' "$out" | grep -q "^$file:2: "; }; then
    echo "FAIL case $n ($file: $include): not reported at $file:2 (status $rc): $out"; status=1
  fi
done <<'CASES'
pass|src/packer/a.cpp|#include "hosting/b.h"
pass|src/services/a.cpp|#include "services/b.h"
pass|src/common/a.h|#include "api/b.h"
pass|src/api/a.h|#include "api/b.h"
pass|src/packer/a.rc|#include "Generated.h"
pass|samples/tar/a.cpp|#include "api/b.h"
pass|src/ui/a.cpp|#include <hosting/b.h>
fail|src/services/a.cpp|#include "hosting/b.h"
fail|src/hosting/a.h|  #  include "packer/b.h"
fail|src/dialogs/a.cpp|#include "services/b.h"
fail|src/api/a.h|#include "common/b.h"
fail|src/strings/a.cpp|#include "ui/b.h"
fail|samples/tar/a.cpp|#include "common/b.h"
fail|samples/tar/a.cpp|#include "b.h"
fail|src/ui/a.cpp|#include "tools/b.h"
fail|src/extra/a.h|#include "api/b.h"
CASES
[ $status -eq 0 ] && echo "check-floors-cases: $n cases as expected"
exit $status
