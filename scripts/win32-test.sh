#!/usr/bin/env bash
# Cross-builds the Windows programs and tests, runs the tests under Wine through
# CTest, and checks that plivane.exe carves the same pixels as the native build.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}

cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/scripts/wine-run.sh" >/dev/null
cmake --build build-win32 -j "$jobs"

# Some machines cannot execute 32-bit programs at all (the kernel refuses them),
# and then Wine cannot run a 32-bit Windows program either. Say so plainly.
if [ ! -f scripts/wine-setup.sh ] || ! bash scripts/wine-setup.sh; then
  echo "NOTICE: the Windows build is made (build-win32/bin) but its tests were NOT run:" >&2
  echo "        Wine cannot run 32-bit Windows programs on this machine." >&2
  exit 0
fi
(cd build-win32 && ctest --output-on-failure -j "$jobs")

out=build-win32/compare
mkdir -p "$out"
# Straight carves, carves after uniform scaling with each quality, and scaling alone.
for args in "fit --size 300x300" "fit --size 520x260 --filter sobel --stretch 200" "fit --size 200x150" \
            "fit --size 600x420 --quality good" "fit --size 300x180 --quality low" \
            "resample --size 613x97 --quality high" "resample --size 97x613 --quality good"; do
  cmd=${args%% *} opts=${args#* }
  # shellcheck disable=SC2086
  build/bin/plivane $cmd samples/chelsea.bmp "$out/native.bmp" $opts
  # shellcheck disable=SC2086
  bash scripts/wine-run.sh build-win32/bin/plivane.exe $cmd samples/chelsea.bmp "$out/windows.bmp" $opts
  if ! cmp -s "$out/native.bmp" "$out/windows.bmp"; then
    echo "plivane.exe and the native plivane differ for: $args" >&2
    exit 1
  fi
done
echo "plivane.exe under Wine carves and scales to the same pixels as the native build"
