#!/bin/sh
# Installs what is missing, builds and runs every test: the plain build with
# warnings as errors (unit, integration and end-to-end tests under Xvfb, then
# under headless mutter and sway as an ordinary user), the
# library tests again under AddressSanitizer and UndefinedBehaviorSanitizer,
# the job tests under ThreadSanitizer, then the fuzz targets, the page
# linter and the tests of the pages' helpers under Node.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh --test
JOBS=$(nproc)
export WEBKIT_DISABLE_COMPOSITING_MODE=1

# Every file manager's module is built and tested (a missing -dev package
# stops the configure instead of leaving a module out).
FILE_MANAGERS="-DZIMBREL_NAUTILUS=ON -DZIMBREL_CAJA=ON -DZIMBREL_NEMO=ON -DZIMBREL_THUNAR=ON
  -DZIMBREL_DOLPHIN=ON"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZIMBREL_WERROR=ON $FILE_MANAGERS \
  -DZIMBREL_SHELLEXT=ON -DZIMBREL_TESTS=ON
cmake --build build -j"$JOBS"
(cd build && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2)
# The program's end-to-end tests again under GNOME's mutter and sway
# (headless Wayland), as an ordinary user.
./scripts/test-wayland.sh build

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZIMBREL_WERROR=ON -DZIMBREL_APP=OFF \
  -DZIMBREL_SANITIZE=address,undefined $FILE_MANAGERS
cmake --build build-asan -j"$JOBS"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  xvfb-run -a ctest --output-on-failure -j2 -L 'unit|jobs')

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DZIMBREL_WERROR=ON \
  -DZIMBREL_SANITIZE=thread -DZIMBREL_APP=OFF -DZIMBREL_SHELLEXT=OFF
cmake --build build-tsan -j"$JOBS"
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j2 -L jobs)

./scripts/fuzz.sh
./scripts/lint-pages.sh
./scripts/test-pages.sh
./scripts/check-packages.sh
