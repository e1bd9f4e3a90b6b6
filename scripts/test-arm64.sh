#!/usr/bin/env bash
# Builds litterpose for 64-bit ARM, the deployed machine, and proves it there under
# emulation, from this x86-64 machine:
#   1. an arm64 sysroot of Debian 12's development packages (scripts/arm64-sysroot.sh;
#      cached outside the work tree, made again only when its package list changes);
#   2. a cross build (build-arm64/, toolchain cmake/aarch64-linux-gnu.cmake) of the
#      libraries, the programs, the benchmarks and every test;
#   3. the whole test suite with CTest, every test binary under qemu-aarch64-static;
#   4. litterpose-estimate on every bundled cloud, all three entries and trash types 1-3, on
#      arm64 and natively (build/): every result code equal, positions and orientations
#      within 1e-6; and the capture simulator on arm64 remaking the bundled clouds.
# Fails on any failure or difference.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh --arm64
jobs=$(nproc)
timings=()
phase_start=$SECONDS
phase() {
  timings+=("$(printf '%-34s %5d s' "$1" $((SECONDS - phase_start)))")
  phase_start=$SECONDS
}

sysroot=$(scripts/arm64-sysroot.sh)
echo "test-arm64: sysroot $sysroot"
phase "sysroot"

# The native build is the reference of the comparison and of the list of tests.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
phase "native build (reference)"

# A build made against another sysroot keeps that sysroot's compiler checks: start anew.
if [[ -f build-arm64/CMakeCache.txt ]] &&
  ! grep -q "^CMAKE_SYSROOT:[A-Z]*=$sysroot\$" build-arm64/CMakeCache.txt; then
  rm -rf build-arm64
fi
cmake -S . -B build-arm64 -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" -DCMAKE_SYSROOT="$sysroot"
cmake --build build-arm64 -j "$jobs"
phase "cross build"

(cd build-arm64 && ctest --output-on-failure -j "$jobs") | tee build-arm64/ctest.log
ran=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' build-arm64/ctest.log)
[[ -n "$ran" ]] || { echo "test-arm64: CTest reported no count of tests" >&2; exit 1; }
phase "tests under emulation"

# Tests that the native build has and the cross build has not: a part built only where an
# optional dependency is found that the sysroot does not hold. Listed, so none goes unseen.
test_names() { (cd "$1" && ctest -N) | sed -n 's/^ *Test *#[0-9]*: //p' | sort; }
native_tests=$(test_names build)
arm64_tests=$(test_names build-arm64)
missing=$(comm -23 <(echo "$native_tests") <(echo "$arm64_tests"))
echo "test-arm64: $ran tests run under emulation; $(echo "$native_tests" | grep -c .) natively"
if [[ -n "$missing" ]]; then
  echo "test-arm64: not built for arm64:"
  while IFS= read -r name; do echo "  $name"; done <<<"$missing"
fi

# One estimate per bundled cloud, entry and trash type, on both machines.
out=build-arm64/estimates
mkdir -p "$out"
: >"$out/native.jsonl"
: >"$out/arm64.jsonl"
clouds=(data/*.ply)
emulator=(qemu-aarch64-static -L "$sysroot")
for entry in main common initial; do
  for type in 1 2 3; do
    args=(--quiet --config config/grab_pose_estimate_config.yaml --entry "$entry"
      --trash-type "$type" "${clouds[@]}")
    build/tools/litterpose-estimate "${args[@]}" >>"$out/native.jsonl"
    "${emulator[@]}" build-arm64/tools/litterpose-estimate "${args[@]}" >>"$out/arm64.jsonl"
  done
done
echo "test-arm64: litterpose-estimate, native (reference) against arm64:"
/usr/bin/python3 scripts/compare_estimates.py "$out/native.jsonl" "$out/arm64.jsonl"

# The project's own arithmetic is the same on both machines: the capture simulator makes
# the sample clouds of data/ there byte for byte.
rm -rf "$out/clouds"
mkdir -p "$out/clouds"
"${emulator[@]}" build-arm64/tools/litterpose-capture-sim \
  --config config/grab_pose_estimate_config.yaml --out "$out/clouds" >/dev/null
made=("$out"/clouds/*.ply)
[[ -e "${made[0]}" ]] || { echo "test-arm64: the capture simulator made no cloud" >&2; exit 1; }
for cloud in "${made[@]}"; do
  cmp "$cloud" "data/$(basename "$cloud")"
done
echo "test-arm64: litterpose-capture-sim on arm64 made the ${#made[@]} sample clouds byte for byte"
phase "estimates and clouds compared"

printf '%s\n' "${timings[@]}"
echo "test-arm64: $ran passed, 0 failed"
