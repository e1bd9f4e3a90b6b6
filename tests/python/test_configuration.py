"""Configurations read back and refused, the robust preparation's switch, console lines,
and cloud files read and refused."""

import gc
import logging
import os
import subprocess
import sys
import weakref

import numpy as np
import pytest
import yaml

import litterpose
from conftest import CONFIG, DEFAULT_CLOUD, LAUNCHER


def test_the_configuration_reads_back(estimator):
    config = yaml.safe_load(CONFIG.read_text())
    assert estimator.windows == {k: config["grab_pose_estimate"][k] for k in estimator.windows}
    assert len(estimator.windows) == 13
    assert estimator.robust_preparation == config["robust_preparation"]
    assert estimator.gripper == config["gripper"]
    assert estimator.camera_intrinsics == config["camera_intrinsic"]
    assert estimator.camera_extrinsic[3].tolist() == [0, 0, 0, 1]
    np.testing.assert_allclose(estimator.camera_extrinsic[:3, 3], config["camera_extrinsic"]["Txyz"], atol=1e-7)


def test_robust_preparation_is_switched_per_estimator(default_points):
    robust, default = litterpose.Estimator(CONFIG), litterpose.Estimator(CONFIG)
    robust.robust_preparation_enabled = True
    assert robust.robust_preparation["enable"] and not default.robust_preparation_enabled
    prepared = [e.estimate(default_points).points_prepared for e in (robust, default)]
    robust.robust_preparation_enabled = False
    assert prepared[0] != prepared[1] == robust.estimate(default_points).points_prepared


@pytest.mark.parametrize("section, key, value, error, message", [
    ("grab_pose_estimate", "workspace_r_max", None, litterpose.ConfigurationError, "cannot load"),
    ("camera_intrinsic", "fx", "wide", litterpose.ConfigurationError, "cannot load"),
    ("robust_preparation", "leaf", 1, litterpose.ConfigurationError, "no key 'leaf'"),
    (None, "no-such.yaml", None, FileNotFoundError, "cannot load the configuration file"),
    (None, ".", None, IsADirectoryError, "cannot load the configuration file"),
    (None, "fifo", None, OSError, "it is a FIFO"),
])
def test_unusable_configurations_raise(tmp_path, section, key, value, error, message):
    path = tmp_path / key
    if section:
        config = yaml.safe_load(CONFIG.read_text())
        config[section][key] = value
        if value is None:
            del config[section][key]
        path.write_text(yaml.safe_dump(config))
    elif key == "fifo":
        os.mkfifo(path)
    with pytest.raises(error, match=message):
        litterpose.Estimator(path)


def test_console_lines_are_off_by_default(capfd, default_points):
    litterpose.Estimator(CONFIG).estimate(default_points)
    litterpose.Kinematics().inverse(np.zeros((4, 4)))
    assert capfd.readouterr() == ("", "")


def test_console_lines_go_where_they_are_sent(capfd, caplog, default_points):
    caplog.set_level(logging.DEBUG, logger="litterpose")
    lines = []
    estimator = litterpose.Estimator(CONFIG, console=lines.append)
    constructed = len(lines)
    estimator.estimate(default_points)
    assert lines[0].startswith("相机外参") and "处理后点云数量：2935" in lines
    assert not any("\x1b" in line for line in lines)
    estimator.console = "logging"
    estimator.estimate(default_points)
    logged = [r.getMessage() for r in caplog.records if r.name == "litterpose.estimator"]
    assert len(logged) == len(lines) - constructed and "处理后点云数量：2935" in logged
    estimator.console = True
    estimator.estimate(default_points)
    assert "\x1b[1;36m处理后点云数量：2935\x1b[0m\n" in capfd.readouterr().out
    with pytest.raises(ValueError, match="console must be"):
        estimator.console = "stderr"


@pytest.mark.parametrize("make, call", [
    (f"litterpose.Estimator({str(CONFIG)!r}, console=True)", f"estimate(litterpose.read_cloud({str(DEFAULT_CLOUD)!r}))"),
    ("litterpose.Kinematics(console=True)", "inverse([[0] * 4] * 4)"),
])
def test_printed_console_lines_keep_their_place_in_a_piped_output(make, call):
    # Piped, without -u: Python's standard output and the C library's are both buffered.
    script = f"import litterpose; owner = {make}; print('before'); owner.{call}; print('after')"
    env = {k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"}
    done = subprocess.run(LAUNCHER + [sys.executable, "-c", script], env=env, capture_output=True,
                          text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert "before" in lines[:-2] and lines[-1] == "after", done.stdout


@pytest.mark.parametrize("use", [
    lambda e: e.windows,
    lambda e: setattr(e, "console", None),
    lambda e: e.estimate(np.zeros((10, 3), np.float32)),
])
def test_a_console_callback_cannot_use_its_own_estimator(default_points, use):
    estimator = litterpose.Estimator(CONFIG)
    estimator.console = lambda line: use(estimator)
    with pytest.raises(RuntimeError, match="busy with an estimate on this thread"):
        estimator.estimate(default_points)
    estimator.console = None
    assert estimator.estimate(default_points).code == 1


@pytest.mark.parametrize("owner", ["Estimator", "Kinematics"])
def test_an_owner_whose_console_refers_back_to_it_is_collected(owner):
    class Host:
        def __init__(self):
            self.held = getattr(litterpose, owner)(*([CONFIG] if owner == "Estimator" else []),
                                                   console=self.on_line)

        def on_line(self, line):
            pass

    host = weakref.ref(Host())
    gc.collect()
    assert host() is None


@pytest.mark.parametrize("owner, use", [
    ("Estimator", lambda o: o.estimate(np.zeros((200, 3), np.float32))),
    ("Estimator", lambda o: setattr(o, "robust_preparation_enabled", True)),
    ("Estimator", lambda o: o.windows),
    ("Kinematics", lambda o: o.forward(np.zeros(6))),
    ("Estimate", lambda o: o.code),
    ("Estimate", lambda o: o.__reduce__()),
])
def test_an_object_whose_init_never_ran_is_refused(owner, use):
    unmade = getattr(litterpose, owner).__new__(getattr(litterpose, owner))
    with pytest.raises(TypeError, match=r"__init__\(\) was not called"):
        use(unmade)


@pytest.mark.parametrize("call", [lambda p: litterpose.Estimator(p), litterpose.read_cloud])
def test_a_path_with_a_null_byte_is_refused(call):
    with pytest.raises(ValueError, match="null byte"):
        call(str(CONFIG) + "\0.ply")


def test_read_cloud_keeps_floats_and_rounds_doubles(tmp_path, default_points):
    assert default_points.dtype == np.float32 and default_points.shape == (5431, 3)
    doubles = np.array([[0.1, 0.2, 0.3], [np.nan, 1e-3, 7.0]])
    header = ("VERSION .7\nFIELDS x y z\nSIZE 8 8 8\nTYPE F F F\nCOUNT 1 1 1\nWIDTH 2\nHEIGHT 1\n"
              "VIEWPOINT 0 0 0 1 0 0 0\nPOINTS 2\nDATA binary\n")
    (tmp_path / "d.pcd").write_bytes(header.encode() + doubles.tobytes())
    np.testing.assert_array_equal(litterpose.read_cloud(tmp_path / "d.pcd"), doubles.astype(np.float32))


@pytest.mark.parametrize("name, content, error, message", [
    ("missing.ply", None, FileNotFoundError, "missing.ply"),
    ("folder", "dir", IsADirectoryError, "folder"),
    ("text.ply", b"hello", ValueError, "neither a PLY nor a PCD file"),
    ("short.ply", DEFAULT_CLOUD.read_bytes()[:3000], ValueError, "truncated"),
])
def test_read_cloud_refusals_carry_the_readers_message(tmp_path, name, content, error, message):
    path = tmp_path / name
    if content == "dir":
        path.mkdir()
    elif content is not None:
        path.write_bytes(content)
    with pytest.raises(error, match=f"cannot read the cloud file .*{message}"):
        litterpose.read_cloud(path)
