#!/usr/bin/env python3
"""The Python module's estimate against a C++ host's, on the same clouds, in one run.

For each size, a cloud is made from the bundled default cloud (its points drawn again with
0.5 mm of seeded noise: a lying bottle that every entry grasps) and written as a binary PCD
file. bench_host_call (Google Benchmark) times a C++ host's estimate of it: PclTransform into
a fresh cloud, then CommonGrabPoseFunc. timeit times litterpose's estimate of the same
points read with litterpose.read_cloud, as a float32 C-ordered array (read in place), as
float64, Fortran-ordered and every other row of a larger array. Printed: microseconds per
estimate (medians of the repetitions, wall time) and what the Python call costs above the
C++ one. A copy of the points on the Python side would make that difference grow with the
cloud; it stays flat when there is none.

    PYTHONPATH=build/python /usr/bin/python3 bench/bench_python.py --build build
"""

import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import timeit

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[1]
CONFIG = ROOT / "config" / "grab_pose_estimate_config.yaml"
SOURCE_CLOUD = ROOT / "data" / "B001PA420231018-1[0].ply"
NOISE = 0.0005  # metres
UNIT_US = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}


def write_pcd(path, points):
    header = ("VERSION .7\nFIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nCOUNT 1 1 1\n"
              f"WIDTH {len(points)}\nHEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\n"
              f"POINTS {len(points)}\nDATA binary\n")
    path.write_bytes(header.encode() + np.ascontiguousarray(points, np.float32).tobytes())


def cpp_medians(program, cloud, repetitions):
    """{benchmark name: median wall microseconds} of bench_host_call on the cloud."""
    done = subprocess.run(
        [program, "--benchmark_format=json", f"--benchmark_repetitions={repetitions}",
         "--benchmark_report_aggregates_only=true"],
        env=dict(os.environ, LITTERPOSE_BENCH_CLOUD=str(cloud)), capture_output=True,
        text=True, check=True)
    return {b["run_name"]: b["real_time"] * UNIT_US[b["time_unit"]]
            for b in json.loads(done.stdout)["benchmarks"] if b.get("aggregate_name") == "median"}


def python_median(call, repetitions):
    """Median wall microseconds per call."""
    number, _ = timeit.Timer(call).autorange()
    number = max(number, 1)
    times = timeit.repeat(call, number=number, repeat=repetitions)
    return statistics.median(times) / number * 1e6


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=pathlib.Path, default=ROOT / "build")
    parser.add_argument("--points", type=int, nargs="+", default=[1000, 10000, 100000])
    parser.add_argument("--repetitions", type=int, default=7)
    args = parser.parse_args()
    sys.path.insert(0, str(args.build / "python"))
    import litterpose

    program = args.build / "bench" / "bench_host_call"
    estimator = litterpose.Estimator(CONFIG)
    source = litterpose.read_cloud(SOURCE_CLOUD)
    rng = np.random.default_rng(20240917)
    layouts = {
        "float32 C": lambda p: p,
        "float64": lambda p: p.astype(np.float64),
        "Fortran": np.asfortranarray,
        "strided": lambda p: np.repeat(p, 2, axis=0)[::2],
    }
    print("| points | C++ host µs | cloudFromPoints µs | PclTransform µs | "
          + " | ".join(f"Python {name} µs" for name in layouts) + " | Python float32 C − C++ µs |")
    print("|---:" * (5 + len(layouts)) + "|")
    with tempfile.TemporaryDirectory() as folder:
        for count in args.points:
            chosen = source[rng.integers(0, len(source), count)]
            path = pathlib.Path(folder) / f"cloud_{count}.pcd"
            write_pcd(path, chosen + rng.normal(0, NOISE, chosen.shape))
            points = litterpose.read_cloud(path)
            answer = estimator.estimate(points)
            if not answer.found:
                sys.exit(f"bench_python: the {count}-point cloud gave {answer.code}, not a grasp")
            cpp = cpp_medians(str(program), path, args.repetitions)
            python = {name: python_median(lambda a=make(points): estimator.estimate(a),
                                          args.repetitions)
                      for name, make in layouts.items()}
            host = cpp["BM_HostEstimate"]
            print(f"| {count} | {host:.1f} | {cpp['BM_CloudFromPoints/bits:32']:.1f} | "
                  f"{cpp['BM_PclTransform']:.1f} | "
                  + " | ".join(f"{t:.1f}" for t in python.values())
                  + f" | {python['float32 C'] - host:+.1f} |", flush=True)


if __name__ == "__main__":
    main()
