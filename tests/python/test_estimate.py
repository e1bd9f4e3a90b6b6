"""Estimates from Python: against litterpose-estimate, over every input layout, and what an
Estimate holds."""

import copy
import pickle

import numpy as np
import pytest

import litterpose
from conftest import BUNDLED, CONFIG, DEFAULT_CLOUD, run_estimate_program, same_answer


# One estimator answers the bundled clouds in turn as the program answers each with a
# fresh one.
@pytest.mark.parametrize("entry", litterpose.ENTRIES)
@pytest.mark.parametrize("trash_type", [1, 2, 3])
def test_bundled_clouds_answer_as_the_estimate_program(estimator, entry, trash_type):
    for path, line in zip(BUNDLED, run_estimate_program(entry, trash_type, BUNDLED), strict=True):
        got = estimator.estimate(litterpose.read_cloud(path), trash_type=trash_type, entry=entry)
        assert (got.code, got.meaning, got.reason, got.reason_text, got.points_read, got.points_prepared,
                got.main_axis_type) == tuple(line[k] for k in (
                    "result", "meaning", "reason_name", "reason", "points_read", "points_prepared",
                    "main_axis_type")), path.name
        if got.found:
            o = line["orientation"]
            np.testing.assert_allclose(got.position, line["position"], rtol=0, atol=1e-6)
            np.testing.assert_allclose(got.quaternion, [o["w"], o["x"], o["y"], o["z"]], atol=1e-6)
        else:
            assert line["position"] is None and got.position is None and got.rotation is None


def test_an_open3d_cloud_gives_the_same_answer(estimator, default_points):
    o3d = pytest.importorskip("open3d")
    cloud = o3d.io.read_point_cloud(str(DEFAULT_CLOUD))
    assert len(cloud.points) == len(default_points)
    reference = estimator.estimate(default_points)
    same_answer(estimator.estimate(cloud), reference)
    tensor_cloud = o3d.t.geometry.PointCloud(o3d.core.Tensor(default_points))
    same_answer(estimator.estimate(tensor_cloud), reference)
    same_answer(estimator.estimate(tensor_cloud.point["positions"]), reference)
    with pytest.raises(ValueError, match="positions"):
        estimator.estimate(o3d.t.geometry.PointCloud())


LAYOUTS = {
    "float64": lambda p: p.astype(np.float64),
    "fortran": np.asfortranarray,
    "fortran float64": lambda p: np.asfortranarray(p, dtype=np.float64),
    "columns of a wider array": lambda p: np.hstack([p, np.ones((len(p), 2), np.float32)])[:, :3],
    "every other row": lambda p: np.repeat(p, 2, axis=0)[::2],
    "transposed": lambda p: np.ascontiguousarray(p.T).T,
    "reversed twice": lambda p: p[::-1].copy()[::-1],
    "list of rows": lambda p: p.astype(np.float64).tolist(),
}


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("entry", litterpose.ENTRIES)
def test_every_layout_gives_the_float32_answer(estimator, default_points, layout, entry):
    same_answer(estimator.estimate(LAYOUTS[layout](default_points), entry=entry),
                estimator.estimate(default_points, entry=entry))


def test_base_frame_points_skip_the_camera_transform(estimator, default_points):
    extrinsic = estimator.camera_extrinsic
    base = default_points.astype(np.float64) @ extrinsic[:3, :3].T + extrinsic[:3, 3]
    in_base, in_camera = estimator.estimate(base, frame="base"), estimator.estimate(default_points)
    assert (in_base.code, in_base.points_prepared) == (in_camera.code, in_camera.points_prepared)
    np.testing.assert_allclose(in_base.position, in_camera.position, atol=1e-6)


def test_rows_of_non_numbers_are_left_out(estimator, default_points):
    holey = np.insert(default_points, [0, 10, 100], np.nan, axis=0)
    got, clean = estimator.estimate(holey), estimator.estimate(default_points)
    assert got.points_read == clean.points_read + 3
    assert (got.code, got.points_prepared) == (clean.code, clean.points_prepared)
    np.testing.assert_array_equal(got.position, clean.position)


@pytest.mark.parametrize("points, reason", [(np.full((500, 3), np.nan), "non_finite_shape"),
                                            (np.empty((0, 3)), "too_few_points")], ids=["nan", "empty"])
@pytest.mark.parametrize("entry", litterpose.ENTRIES)
def test_clouds_without_points_are_answered_without_shape(estimator, points, reason, entry):
    got = estimator.estimate(points, entry=entry)
    assert (got.code, got.reason, got.points_read) == (11, reason, len(points))
    shape = [got.pca_center, got.obb_center, got.aabb_min, got.footprint, got.main_axis_type]
    assert shape == [None] * 5 and got.position is None


@pytest.mark.parametrize("entry", litterpose.ENTRIES)
def test_an_estimate_holds_its_shape_and_a_rotation(estimator, default_points, entry):
    got = estimator.estimate(default_points, entry=entry)
    assert got.found and got.entry == entry and got.trash_type == 3
    w, x, y, z = got.quaternion
    np.testing.assert_allclose(got.rotation, [
        [1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)],
        [2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)],
        [2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)]], atol=1e-12)
    assert got.pca_vectors.shape == (3, 3) and got.footprint.shape == (4, 2)
    assert (got.aabb_min is None) == (entry == "main")
    # The centroid lies inside the oriented box, 0.38 m ahead of the arm.
    local = got.obb_rotation.T @ (got.pca_center - got.obb_center)
    assert np.all(got.obb_min - 1e-6 <= local) and np.all(local <= got.obb_max + 1e-6)
    assert np.hypot(*got.pca_center[:2]) == pytest.approx(0.38, abs=0.03)
    assert repr(got).startswith("Estimate(code=1, meaning='grasp pose found', reason='found'")


def members(estimate):
    return {name: getattr(estimate, name) for name in dir(estimate) if not name.startswith("_")}


# Process pools hand their results back pickled.
@pytest.mark.parametrize("copy_of", [lambda e: pickle.loads(pickle.dumps(e)), copy.deepcopy],
                         ids=["pickle", "deepcopy"])
@pytest.mark.parametrize("rows", [None, 5], ids=["found", "too_few"])
@pytest.mark.parametrize("entry", litterpose.ENTRIES)
def test_a_copied_estimate_holds_every_member(estimator, default_points, entry, rows, copy_of):
    got = estimator.estimate(default_points[:rows], entry=entry)
    copied = copy_of(got)
    assert type(copied) is litterpose.Estimate and {"code", "position", "footprint"} <= members(got).keys()
    np.testing.assert_equal(members(copied), members(got))


def _with(state, at, value):
    return state[:at] + (value,) + state[at + 1:]


# An estimate's state is a tuple: version, code, entry, trash type, reason, reason text, IK
# code, main-axis class, shape and box flags, points read and prepared, elapsed time, numbers.
BAD_STATES = [
    (lambda s: list(s), "not a tuple"),
    (lambda s: _with(s, 0, 2), "another version or length"),
    (lambda s: _with(s, 2, "Main"), "an unknown entry"),
    (lambda s: _with(s, 4, 99), "an unknown reason"),
    (lambda s: _with(s, 10, -1), "a value of another type"),
    (lambda s: _with(s, 13, s[13][:-1]), "another count of numbers"),
    (lambda s: _with(s, 13, (np.nan,) + s[13][1:]), "a grasp pose that is not finite"),
]


@pytest.mark.parametrize("edit, message", BAD_STATES)
def test_a_state_that_no_estimate_saved_is_refused(estimator, default_points, edit, message):
    _, (state,) = estimator.estimate(default_points).__reduce__()
    with pytest.raises(ValueError, match="not the state of a litterpose.Estimate: " + message):
        litterpose.Estimate(edit(state))


BAD_CALLS = [
    ({"points": np.zeros((10, 2))}, r"\(N, 3\) array, not one of shape \(10, 2\)"),
    ({"points": np.zeros((10, 3, 1))}, r"shape \(10, 3, 1\)"),
    ({"points": np.zeros(3)}, r"shape \(3,\)"),
    ({"points": np.zeros((10, 3), np.int32)}, "float32 or float64.*not int32"),
    ({"points": np.zeros((10, 3), np.float16)}, "not float16"),
    ({"points": np.zeros((10, 3), ">f8")}, "byte order, not >f8"),
    ({"points": [[1, 2], [3]]}, "an \\(N, 3\\) array"),
    ({"points": "cloud.ply"}, "shape \\(\\)"),
    ({"entry": "Common"}, "entry must be 'main', 'common' or 'initial', not 'Common'"),
    ({"frame": "world"}, "frame must be 'camera' or 'base', not 'world'"),
    ({"trash_type": 2**40}, "trash_type must be an integer from -2147483648 to 2147483647, not 1099511627776"),
    ({"trash_type": -(2**31) - 1}, "not -2147483649"),
]


def test_numpy_integers_are_trash_types(estimator, default_points):
    got = estimator.estimate(default_points, trash_type=np.int16(2), entry="main")
    assert (got.trash_type, got.code) == (2, estimator.estimate(default_points, trash_type=2, entry="main").code)


@pytest.mark.parametrize("call, message", BAD_CALLS)
def test_bad_calls_raise_value_error(estimator, default_points, call, message):
    with pytest.raises(ValueError, match=message):
        estimator.estimate(**{"points": default_points, **call})


def test_an_error_of_a_clouds_points_reaches_the_caller(estimator):
    class Camera:
        @property
        def points(self):
            raise ConnectionError("camera disconnected")

    with pytest.raises(ConnectionError, match="camera disconnected"):
        estimator.estimate(Camera())


def test_describe_result():
    assert litterpose.describe_result(1, "common") == "grasp pose found"
    assert litterpose.describe_result(101, "common") == "outside the vertical grab space"
    assert litterpose.describe_result(101, "main") == "too near (trash type 1)"
    assert litterpose.describe_result(5) == "unknown result"
    with pytest.raises(ValueError, match="not 'GrabPoseEstimateFunc'"):
        litterpose.describe_result(1, "GrabPoseEstimateFunc")
    with pytest.raises(ValueError, match="code must be an integer from -2147483648 to 2147483647"):
        litterpose.describe_result(2**70)
