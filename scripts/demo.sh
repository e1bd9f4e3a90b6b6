#!/usr/bin/env bash
# The main job: set up, build, and show the arm model at work.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target kinematics_demo
build/tools/kinematics_demo
