#!/usr/bin/env bash
# The main job: set up, build, estimate grasps on the bundled sample clouds, and draw the
# viewer's default cloud into docs/litterview.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh

# The estimator records data under a fixed root that it creates at construction.
data_root=/opt/halvanepro/trash_detect_data
if ! mkdir -p "$data_root" 2>/dev/null || [[ ! -w "$data_root" ]]; then
  echo "demo: creating $data_root for $(id -un) (sudo)"
  sudo mkdir -p "$data_root"
  sudo chown "$(id -u):$(id -g)" "$data_root"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target kinematics_demo litterpose-estimate litterview

echo
echo "== The arm model: forward and inverse kinematics"
build/tools/kinematics_demo

echo
echo "== Grasps for the bundled clouds (litterpose-estimate, trash type 3, CommonGrabPoseFunc)"
config=config/grab_pose_estimate_config.yaml
build/tools/litterpose-estimate --config "$config" --quiet data/*.ply >build/estimates.jsonl
python3 - build/estimates.jsonl <<'PY'
import json, os, sys
print("%-44s %6s  %-28s %s" % ("cloud", "result", "grasp position (m)", "meaning"))
for line in open(sys.argv[1], encoding="utf-8"):
    r = json.loads(line)
    pos = "" if r.get("position") is None else " ".join("%.3f" % v for v in r["position"])
    print("%-44s %6s  %-28s %s" % (os.path.basename(r["file"]), r.get("result", "-"), pos,
                                   r.get("meaning", r.get("error"))))
PY
echo "(JSON lines in build/estimates.jsonl)"

echo
echo "== litterview on the default cloud -> docs/litterview.png"
viewer=(build/viewer/litterview --screenshot docs/litterview.png "$config"
        "data/B001PA420231018-1[0].ply")
if [[ -z "${DISPLAY:-}" ]]; then
  xvfb-run -a "${viewer[@]}" 2>/dev/null
else
  "${viewer[@]}" 2>/dev/null
fi
echo "wrote docs/litterview.png"
