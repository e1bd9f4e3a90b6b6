#!/usr/bin/env bash
# Regenerates the sample clouds of data/ with the capture simulator (deterministic).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target litterpose-capture-sim
"$build"/tools/litterpose-capture-sim --config config/grab_pose_estimate_config.yaml --out data
