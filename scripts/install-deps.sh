#!/usr/bin/env bash
# Installs every build and test dependency from Debian's packages. Idempotent: when all
# packages are present it only checks them.
#   scripts/install-deps.sh           the native build and its tests
#   scripts/install-deps.sh --arm64   also the 64-bit ARM cross build under emulation
#                                     (scripts/test-arm64.sh)
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libeigen3-dev libpcl-dev libx11-dev libopencv-dev libyaml-cpp-dev libboost-filesystem-dev
  # lzf, which PCD's binary_compressed data is packed with (the cloud reader)
  liblzf-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # FCL, which a benchmark times the gripper model's floor test against (the library does not
  # use it)
  libfcl-dev
  xvfb xauth libgl1-mesa-dri libglx-mesa0 python3
  # The chart of litterpose-eval, drawn by Debian's Python (/usr/bin/python3).
  python3-matplotlib
  # The Python package (python/), its tests, its example and its benchmark.
  pybind11-dev python3-dev python3-numpy python3-pytest python3-yaml python3-open3d
  # The ROS node (ros/) and its test: ROS 1 as Debian packages it, no catkin workspace.
  libroscpp-dev libstd-msgs-dev libsensor-msgs-dev libgeometry-msgs-dev
  libvisualization-msgs-dev libtf2-ros-dev libtf2-msgs-dev libdiagnostic-updater-dev
  libdiagnostic-msgs-dev libpcl-conversions-dev
  python3-rosmaster rosout python3-roslaunch python3-rostopic
  # litterpose_msgs: generated at build time from the definitions it builds on; rosmsg,
  # rosservice and rospy for its users and the Python client's test.
  python3-gencpp python3-genpy python3-genmsg ros-std-msgs ros-sensor-msgs ros-geometry-msgs
  python3-rospy python3-rosmsg python3-rosservice python3-std-msgs python3-sensor-msgs
  python3-geometry-msgs
)

case "${1:-}" in
  "") ;;
  --arm64)
    # Cross compilers, user-mode emulator, and the tool that extracts the arm64 sysroot.
    packages+=(g++-aarch64-linux-gnu qemu-user-static mmdebstrap)
    ;;
  *)
    echo "usage: $0 [--arm64]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y "${missing[@]}"
