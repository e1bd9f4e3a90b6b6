#!/usr/bin/env bash
# The grasp-quality benchmark of the README: litterpose-eval on 1000 seeded scenes per
# capture profile with the bundled configuration. Writes docs/grasp-quality.png (chart),
# docs/grasp-quality.json (figures), and prints the tables (also kept in
# build/grasp-quality.md).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target litterpose-eval
"$build"/tools/litterpose-eval --config config/grab_pose_estimate_config.yaml --scenes 1000 \
  --json docs/grasp-quality.json --chart docs/grasp-quality.png | tee "$build"/grasp-quality.md
