#!/usr/bin/env bash
# scripts/check-includes: each include below, alone in a file of its
# folder, passes (expected "") or is named with the rule it breaks.
set -uo pipefail
check="$1/scripts/check-includes"
cases=(
  'dbf/A.cpp|#include "platform/File.h"|'
  'dbf/A.cpp|#include "repair/RepairJob.h"|dbf/A.cpp:1: includes "repair/RepairJob.h": dbf/ may include only dbf/ platform/'
  'repair/A.h|#include "dbf/DBFTableDef.h"|'
  'repair/A.h|#include "cli/Command.h"|repair/A.h:1: includes "cli/Command.h": repair/ may include only repair/ dbf/ platform/'
  'repair/A.cpp|#include <QString>|repair/A.cpp:1: includes <QString>: no Qt in repair/'
  'cli/A.cpp|  #  include <QtCore/QFile> // why|cli/A.cpp:1: includes <QtCore/QFile>: no Qt in cli/'
  'cli/A.cpp|#include <queue>|'
  'platform/A.cpp|#include <QFile>|platform/A.cpp:1: includes <QFile>: no Qt in platform/'
  'wizard/A.cpp|#include "app/MainFrame.h"|wizard/A.cpp:1: includes "app/MainFrame.h": wizard/ may include only wizard/ repair/ dbf/ platform/'
  'app/A.cpp|#include "wizard/QuorvikView.h"|'
)
failed=0
for c in "${cases[@]}"; do
  IFS='|' read -r file include expected <<<"$c"
  tree=$(mktemp -d)
  mkdir -p "$tree/$(dirname "$file")"
  printf '%s\n' "$include" >"$tree/$file"
  out=$(bash "$check" "$tree" 2>&1 | head -1)
  rc=${PIPESTATUS[0]}
  rm -rf "$tree"
  if [ "$out" != "$expected" ] || { [ -n "$expected" ] && [ "$rc" -eq 0 ]; } || { [ -z "$expected" ] && [ "$rc" -ne 0 ]; }; then
    echo "FAIL $file: $include -> rc $rc, '$out' (expected '$expected')"
    failed=1
  fi
done
# The tree itself keeps the rules.
bash "$check" "$1" || failed=1
exit $failed
