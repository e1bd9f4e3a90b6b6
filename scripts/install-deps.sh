#!/usr/bin/env bash
# Installs every build and test dependency from Debian's packages. Idempotent: when all
# packages are present it only checks them.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libeigen3-dev libpcl-dev libopencv-dev libyaml-cpp-dev libboost-filesystem-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth libgl1-mesa-dri libglx-mesa0 python3
  # The chart of litterpose-eval, drawn by Debian's Python (/usr/bin/python3).
  python3-matplotlib
  # The ROS node (ros/) and its test: ROS 1 as Debian packages it, no catkin workspace.
  libroscpp-dev libstd-msgs-dev libsensor-msgs-dev libgeometry-msgs-dev
  libvisualization-msgs-dev libtf2-msgs-dev libpcl-conversions-dev
  python3-rosmaster rosout python3-roslaunch python3-rostopic
)

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
