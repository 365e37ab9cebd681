#!/usr/bin/env bash
# Cross-builds the Windows programs and tests, runs the tests under Wine through
# CTest, and checks that plivane.exe carves the same pixels as the native build.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}

bash scripts/wine-setup.sh
cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/scripts/wine-run.sh" >/dev/null
cmake --build build-win32 -j "$jobs"
(cd build-win32 && ctest --output-on-failure)

out=build-win32/compare
mkdir -p "$out"
for args in "--size 300x300" "--size 520x260 --filter sobel --stretch 200"; do
  # shellcheck disable=SC2086
  build/bin/plivane fit samples/chelsea.bmp "$out/native.bmp" $args
  # shellcheck disable=SC2086
  bash scripts/wine-run.sh build-win32/bin/plivane.exe fit samples/chelsea.bmp "$out/windows.bmp" $args
  if ! cmp -s "$out/native.bmp" "$out/windows.bmp"; then
    echo "plivane.exe and the native plivane differ for: $args" >&2
    exit 1
  fi
done
echo "plivane.exe under Wine carves the same pixels as the native build"
