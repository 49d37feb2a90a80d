#!/bin/bash
# A second `make run` on a built, unchanged tree: the Makefile's configure
# step, and a configure as a changed CMakeLists.txt brings one, leave every
# target up to date, so the programs' build compiles and links nothing; it
# builds no test or benchmark either.
set -u
SRC=$1
BUILD=$2
# Started under `make test`: the outer make's flags are not ours.
unset MAKEFLAGS MFLAGS MAKEOVERRIDES MAKELEVEL

fail=0
check() {
  local when=$1 out steps
  out=$(cmake --build "$BUILD" --target programs 2>&1) || { echo "the programs' build failed $when:"; echo "$out"; fail=1; return; }
  steps=$(grep -E 'Building (C|CXX) object|Linking|Built target (test_|bench_)' <<<"$out")
  if [ -n "$steps" ]; then
    echo "$when, the programs' build did:"
    echo "$steps" | head -20
    fail=1
  fi
}

check "on the tree as built"
# The package check needs nothing here: the tree is built.
make -s --no-print-directory -C "$SRC" -o deps BUILD="$BUILD" configure >/dev/null || { echo "configure failed"; exit 1; }
check "after the Makefile's configure step"
cmake "$BUILD" >/dev/null || { echo "cmake failed"; exit 1; }
check "after a configure"
exit $fail
