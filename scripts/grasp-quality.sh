#!/usr/bin/env bash
# The grasp-quality benchmark of the README: litterpose-eval on 1000 seeded scenes of each
# capture profile (realistic, clean, field) with the bundled configuration. Writes
# docs/grasp-quality.png (chart) and docs/grasp-quality.json (figures and every scene's
# outcomes, which the CTest grasp_quality_record compares runs with), and prints the tables
# (also kept in build/grasp-quality.md).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target litterpose-eval
"$build"/tools/litterpose-eval --config config/grab_pose_estimate_config.yaml --scenes 1000 \
  --artefacts all --json docs/grasp-quality.json --chart docs/grasp-quality.png |
  tee "$build"/grasp-quality.md
