#!/bin/bash
# clang-tidy (the tree's .clang-tidy) over every platform-free source file
# the native build compiles, the tests and third-party code aside. Any
# finding fails the run.
set -u
BUILD=${1:?usage: run_tidy.sh build-dir source-dir}
SOURCE=${2:?usage: run_tidy.sh build-dir source-dir}
TIDY=$(command -v clang-tidy || command -v clang-tidy-14 || true)
if [ -z "$TIDY" ]; then
  echo "clang-tidy is not installed: run ./dev.sh setup"
  exit 1
fi
files=$(python3 - "$BUILD/compile_commands.json" "$SOURCE" <<'PY'
import json, os, sys
entries = json.load(open(sys.argv[1]))
root = os.path.realpath(sys.argv[2]) + "/"
names = set()
for e in entries:
    f = os.path.realpath(os.path.join(e["directory"], e["file"]))
    rel = f[len(root):] if f.startswith(root) else None
    if rel and rel.endswith(".cpp") and not rel.startswith(("tests/", "build/", "bench/")):
        names.add(f)
print("\n".join(sorted(names)))
PY
)
if [ -z "$files" ]; then
  echo "no source files found in $BUILD/compile_commands.json"
  exit 1
fi
echo "$files" | xargs -P 2 -n 4 "$TIDY" -p "$BUILD" --quiet 2>/dev/null >"$BUILD/tidy.out"
status=$?
grep -E "(warning|error):" "$BUILD/tidy.out"
count=$(grep -cE "(warning|error):" "$BUILD/tidy.out")
echo "clang-tidy: $(echo "$files" | wc -l) files, $count findings"
[ "$status" -eq 0 ] && [ "$count" -eq 0 ]
