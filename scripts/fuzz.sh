#!/bin/sh
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a
# bounded time (FUZZ_SECONDS, default 30) on a copy of its starting corpus. A crash
# fails the run; its input is left in build-fuzz/crashes/ to add to the corpus.
set -eu
cd "$(dirname "$0")/.."
SECONDS_EACH=${FUZZ_SECONDS:-30}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZIMBREL_FUZZ=ON -DZIMBREL_SANITIZE=address,undefined -DZIMBREL_APP=OFF \
  -DZIMBREL_SHELLEXT=OFF -DZIMBREL_WERROR=ON > /dev/null
TARGETS="fuzz_command_line fuzz_registry fuzz_bridge_wire fuzz_invoke fuzz_cd_index fuzz_url_encode
  fuzz_page_address"
cmake --build build-fuzz -j"$(nproc)" --target $TARGETS
mkdir -p build-fuzz/crashes
export ZIMBREL_REGISTRY_DIR
ZIMBREL_REGISTRY_DIR=$(mktemp -d)
failed=0
for t in $TARGETS; do
  work=$(mktemp -d)
  if build-fuzz/fuzz/$t -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix=build-fuzz/crashes/$t- "$work" fuzz/corpus/$t > "build-fuzz/$t.log" 2>&1; then
    echo "fuzz: $t ok ($(grep -o 'Done [0-9]* runs' "build-fuzz/$t.log"))"
  else
    echo "fuzz: $t FAILED"; tail -40 "build-fuzz/$t.log"; failed=1
  fi
  rm -rf "$work"
done
rm -rf "$ZIMBREL_REGISTRY_DIR"
exit $failed
