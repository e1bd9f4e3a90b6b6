"""Configurations read back and refused, the robust preparation's switch, console lines,
and reading cloud files."""

import logging

import numpy as np
import pytest
import yaml

import litterpose
from conftest import CONFIG, DEFAULT_CLOUD


def test_the_configuration_reads_back(estimator):
    config = yaml.safe_load(CONFIG.read_text())
    windows = estimator.windows
    for key, value in windows.items():
        assert value == pytest.approx(config["grab_pose_estimate"][key], rel=1e-7), key
    assert len(windows) == 13
    assert estimator.robust_preparation == pytest.approx(config["robust_preparation"], rel=1e-7)
    assert estimator.camera_intrinsics == pytest.approx(config["camera_intrinsic"], rel=1e-7)
    extrinsic = estimator.camera_extrinsic
    assert extrinsic.shape == (4, 4) and extrinsic[3].tolist() == [0, 0, 0, 1]
    np.testing.assert_allclose(extrinsic[:3, 3], config["camera_extrinsic"]["Txyz"], atol=1e-7)
    assert estimator.config_path == str(CONFIG)


def test_robust_preparation_is_switched_per_estimator(default_points):
    robust, default = litterpose.Estimator(CONFIG), litterpose.Estimator(CONFIG)
    robust.robust_preparation_enabled = True
    assert robust.robust_preparation["enable"] and not default.robust_preparation_enabled
    prepared = [e.estimate(default_points).points_prepared for e in (robust, default)]
    assert prepared[0] != prepared[1]
    robust.robust_preparation_enabled = False
    assert robust.estimate(default_points).points_prepared == prepared[1]


def edited_config(tmp_path, edit):
    config = yaml.safe_load(CONFIG.read_text())
    edit(config)
    path = tmp_path / "config.yaml"
    path.write_text(yaml.safe_dump(config))
    return path


@pytest.mark.parametrize("edit, error, message", [
    (lambda c: c["grab_pose_estimate"].pop("workspace_r_max"), litterpose.ConfigurationError, "cannot load"),
    (lambda c: c["camera_intrinsic"].update(fx="wide"), litterpose.ConfigurationError, "cannot load"),
    (lambda c: c["robust_preparation"].update(leaf=1), litterpose.ConfigurationError, "no key 'leaf'"),
])
def test_unusable_configurations_raise(tmp_path, edit, error, message):
    with pytest.raises(error, match=message):
        litterpose.Estimator(edited_config(tmp_path, edit))


@pytest.mark.parametrize("path, error", [
    ("no-such-config.yaml", FileNotFoundError), (".", IsADirectoryError)])
def test_configuration_files_that_cannot_be_opened_raise_os_error(tmp_path, path, error):
    with pytest.raises(error, match="cannot load the configuration file"):
        litterpose.Estimator(tmp_path / path)


def test_console_lines_are_off_by_default(capfd, default_points):
    litterpose.Estimator(CONFIG).estimate(default_points)
    litterpose.Kinematics().inverse(np.zeros((4, 4)))
    assert capfd.readouterr() == ("", "")


def test_console_lines_go_where_they_are_sent(capfd, caplog, default_points):
    caplog.set_level(logging.DEBUG, logger="litterpose")
    lines = []
    estimator = litterpose.Estimator(CONFIG, console=lines.append)
    assert any(line.startswith("相机内参") for line in lines)
    constructed = len(lines)
    estimator.estimate(default_points)
    assert "处理后点云数量：2935" in lines and not any("\x1b" in line for line in lines)
    estimator.console = "logging"
    estimator.estimate(default_points)
    logged = [r.getMessage() for r in caplog.records if r.name == "litterpose.estimator"]
    assert len(logged) == len(lines) - constructed and "处理后点云数量：2935" in logged
    estimator.console = True
    estimator.estimate(default_points)
    assert "\x1b[1;36m处理后点云数量：2935\x1b[0m\n" in capfd.readouterr().out
    with pytest.raises(ValueError, match="console must be"):
        estimator.console = "stderr"


def test_read_cloud_keeps_floats_and_rounds_doubles(tmp_path, default_points):
    assert default_points.dtype == np.float32 and default_points.shape == (5431, 3)
    doubles = np.array([[0.1, 0.2, 0.3], [np.nan, 1e-3, 7.0]])
    path = tmp_path / "doubles.pcd"
    header = "VERSION .7\nFIELDS x y z\nSIZE 8 8 8\nTYPE F F F\nCOUNT 1 1 1\nWIDTH 2\nHEIGHT 1\n"
    path.write_bytes((header + "VIEWPOINT 0 0 0 1 0 0 0\nPOINTS 2\nDATA binary\n").encode()
                     + doubles.tobytes())
    np.testing.assert_array_equal(litterpose.read_cloud(path), doubles.astype(np.float32))


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
