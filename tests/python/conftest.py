"""Fixtures of the Python package's tests. CTest sets LITTERPOSE_SOURCE_DIR,
LITTERPOSE_ESTIMATE_PROGRAM and, in a cross build, LITTERPOSE_PROGRAM_LAUNCHER (the
emulator's command line as shell words), and puts the build tree's package on PYTHONPATH."""

import json
import os
import pathlib
import shlex
import subprocess

import pytest

import litterpose

SOURCE_DIR = pathlib.Path(os.environ.get("LITTERPOSE_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
CONFIG = SOURCE_DIR / "config" / "grab_pose_estimate_config.yaml"
BUNDLED = sorted((SOURCE_DIR / "data").glob("*.ply"))
# A lying bottle 0.38 m straight ahead, grasped by every entry for trash type 3.
DEFAULT_CLOUD = SOURCE_DIR / "data" / "B001PA420231018-1[0].ply"
LAUNCHER = shlex.split(os.environ.get("LITTERPOSE_PROGRAM_LAUNCHER", ""))


def run_estimate_program(entry, trash_type, files):
    """litterpose-estimate's JSON lines for the files."""
    command = LAUNCHER + [os.environ["LITTERPOSE_ESTIMATE_PROGRAM"], "--quiet", "--config",
                          str(CONFIG), "--entry", entry, "--trash-type", str(trash_type)]
    done = subprocess.run(command + [str(f) for f in files], capture_output=True, text=True,
                          timeout=300, check=True)
    return [json.loads(line) for line in done.stdout.splitlines()]


@pytest.fixture(scope="module")
def estimator():
    return litterpose.Estimator(CONFIG)


@pytest.fixture(scope="module")
def default_points():
    return litterpose.read_cloud(DEFAULT_CLOUD)


def same_answer(a, b):
    """Two estimates agree: code, reason, counts and, to the bit, the pose."""
    assert (a.code, a.reason_text, a.points_read, a.points_prepared, a.main_axis_type) == (
        b.code, b.reason_text, b.points_read, b.points_prepared, b.main_axis_type)
    if a.found:
        assert (a.position.tolist(), a.quaternion.tolist()) == (b.position.tolist(), b.quaternion.tolist())
