#!/usr/bin/env bash
# Prints the path of the 64-bit ARM sysroot of the cross build, making it first when it does
# not exist: Debian 12's arm64 packages of every library, tool and test dependency, extracted
# without running any package script (mmdebstrap's variant "extract"; no root scripts).
#
# The sysroot lives outside the work tree, under a name that hashes its recipe (suite,
# sources, packages, fix-ups), so a change of the package list makes a new one and an
# unchanged list reuses the old one. It is made in a temporary directory and renamed into
# place only when complete, so an interrupted run never leaves a sysroot that a later run
# would take as finished; a lock serialises concurrent runs.
#
# Environment: XDG_CACHE_HOME (default ~/.cache); the sysroot goes under
# $XDG_CACHE_HOME/litterpose/.
set -euo pipefail

arch=arm64
triplet=aarch64-linux-gnu
suite=bookworm
sources=(
  "deb http://deb.debian.org/debian bookworm main"
  "deb http://deb.debian.org/debian bookworm-updates main"
  "deb http://deb.debian.org/debian-security bookworm-security main"
)
packages=(
  libstdc++-12-dev libeigen3-dev libpcl-dev libopencv-dev libyaml-cpp-dev
  libboost-filesystem-dev libgtest-dev libgmock-dev libbenchmark-dev liblzf-dev
  # the viewer draws with OpenGL on the virtual display: Mesa's software renderer
  libgl1-mesa-dri libglx-mesa0
  # the Python package, built against the sysroot's Python and tested by its interpreter
  python3-dev pybind11-dev python3-numpy python3-pytest python3-yaml python3-matplotlib
)
# What update-alternatives, a package script, would have linked: "link target", the link
# relative to the sysroot, the target relative to the link's directory.
alternatives=(
  "usr/lib/$triplet/libblas.so.3 blas/libblas.so.3"
  "usr/lib/$triplet/libblas.so blas/libblas.so"
  "usr/lib/$triplet/liblapack.so.3 lapack/liblapack.so.3"
  "usr/lib/$triplet/liblapack.so lapack/liblapack.so"
  "usr/include/$triplet/mpi ../../lib/$triplet/openmpi/include"
  "usr/lib/$triplet/libmpi.so openmpi/lib/libmpi.so"
  "usr/lib/$triplet/libmpi++.so openmpi/lib/libmpi_cxx.so"
  "usr/lib/$triplet/pkgconfig/mpi.pc ompi.pc"
  "usr/lib/$triplet/pkgconfig/mpi-c.pc ompi-c.pc"
  "usr/lib/$triplet/pkgconfig/mpi-cxx.pc ompi-cxx.pc"
  "usr/lib/$triplet/pkgconfig/blas.pc blas-netlib.pc"
  "usr/lib/$triplet/pkgconfig/lapack.pc lapack-netlib.pc"
)
# Raise when the fix-ups below change in a way the lists above do not show.
fixup_revision=1

die() {
  echo "arm64-sysroot: $*" >&2
  exit 1
}

for tool in mmdebstrap flock sha256sum realpath; do
  command -v "$tool" >/dev/null || die "needs $tool (scripts/install-deps.sh --arm64 installs it)"
done

key=$(printf '%s\n' "$arch" "$suite" "${sources[@]}" "${packages[@]}" "${alternatives[@]}" \
  "$fixup_revision" | sha256sum | cut -c1-16)
cache="${XDG_CACHE_HOME:-$HOME/.cache}/litterpose"
sysroot="$cache/$arch-sysroot-$key"
marker="$sysroot/.litterpose-sysroot"

if [[ -f "$marker" ]]; then
  echo "$sysroot"
  exit 0
fi

mkdir -p "$cache"
exec 9>"$cache/$arch-sysroot.lock"
flock 9
# Another run may have finished it while this one waited.
if [[ -f "$marker" ]]; then
  echo "$sysroot"
  exit 0
fi
[[ -e "$sysroot" ]] && die "$sysroot exists but is incomplete; remove it"

# Holding the lock, any partial directory is left over from an interrupted run.
rm -rf "$cache/.$arch-sysroot-"*.partial.*
partial=$(mktemp -d "$cache/.$arch-sysroot-$key.partial.XXXXXX")
trap 'rm -rf "$partial"' EXIT

echo "arm64-sysroot: making $sysroot (about 3 GB, a few minutes)" >&2
start=$SECONDS
include=$(IFS=,; echo "${packages[*]}")
mmdebstrap --variant=extract --architectures="$arch" --include="$include" \
  "$suite" "$partial" "${sources[@]}" >&2 ||
  die "mmdebstrap failed"

# The emulator must see the build machine's own /dev and /tmp, not the sysroot's.
rm -rf "${partial:?}/dev" "${partial:?}/tmp"

# Absolute symbolic links (libm.so -> /lib/aarch64-linux-gnu/libm.so.6 and the like) would
# lead the linker's --sysroot and the emulator's -L out to the build machine's own files:
# make each relative to its place in the sysroot.
converted=0
while IFS= read -r -d '' link; do
  target=$(readlink "$link")
  relative=$(realpath --no-symlinks --relative-to="$(dirname "$link")" "$partial$target")
  ln -sfn "$relative" "$link"
  converted=$((converted + 1))
done < <(find "$partial" -type l -lname '/*' -print0)

# CMake packages that name libraries by absolute path in their link interfaces (flann's
# "/usr/lib/aarch64-linux-gnu/liblz4.so", VTK's, ...) would link the build machine's files,
# or fail where they are missing: make those paths relative to the consumer's sysroot.
link_list='(LINK_INTERFACE_LIBRARIES|INTERFACE_LINK_LIBRARIES)'
while IFS= read -r -d '' file; do
  if grep -qE "$link_list.*[\";](/usr)?/lib/" "$file"; then
    sed -i -E "/$link_list/ s#([\";])(/usr)?/lib/#\1\${CMAKE_SYSROOT}\2/lib/#g" "$file"
  fi
done < <(find "$partial/usr/lib" "$partial/usr/share" -name '*.cmake' -print0)

for entry in "${alternatives[@]}"; do
  read -r link target <<<"$entry"
  [[ -e "$partial/$(dirname "$link")/$target" ]] ||
    die "alternative $link: $target is not in the sysroot"
  ln -sfn "$target" "$partial/$link"
done

size=$(du -sh "$partial" | cut -f1)
{
  echo "Debian $suite $arch sysroot for litterpose, made $(date -u +%Y-%m-%dT%H:%M:%SZ)"
  echo "in $((SECONDS - start)) s, $size; $converted absolute links made relative"
  echo "packages: ${packages[*]}"
} >"$partial/.litterpose-sysroot"
mv -T "$partial" "$sysroot"
trap - EXIT
echo "arm64-sysroot: made in $((SECONDS - start)) s, $size" >&2
echo "$sysroot"
