"""The arm model from Python: forward kinematics against a Denavit-Hartenberg chain of its
own, inverse round trips, joint limits and refusals."""

import numpy as np
import pytest

import litterpose

# The Quorvin arm: d and a in millimetres, alpha and the joint zero offsets in degrees.
DH = [(240.5, 0, 90, 0), (0, 256, 0, 90), (0, 0, 90, 90), (210, 0, -90, 0), (0, 0, 90, 0), (144, 0, 0, 0)]


def dh_chain(joints_deg):
    pose = np.eye(4)
    for (d, a, alpha, offset), q in zip(DH, joints_deg):
        ct, st = np.cos(np.radians(q + offset)), np.sin(np.radians(q + offset))
        ca, sa = np.cos(np.radians(alpha)), np.sin(np.radians(alpha))
        pose = pose @ [[ct, -ca * st, sa * st, a * ct], [st, ca * ct, -sa * ct, a * st], [0, sa, ca, d], [0, 0, 0, 1]]
    return pose


def random_joints(count, rng=np.random.default_rng(17)):
    """Joint vectors away from the wrist, elbow and shoulder singularities."""
    found = []
    while len(found) < count:
        q = rng.uniform(-170, 170, 6)
        r = np.radians(q)
        if min(abs(np.sin(r[4])), abs(np.sin(r[2]))) > 0.1 and abs(256 * np.sin(r[1]) + 210 * np.sin(r[1] + r[2])) > 20:
            found.append(q)
    return found


@pytest.mark.parametrize("joints", random_joints(12), ids=lambda q: f"q{q[0]:+.0f}")
def test_forward_then_inverse_returns_the_joints(joints):
    arm = litterpose.Kinematics()
    pose = arm.forward(joints)
    np.testing.assert_allclose(pose, dh_chain(joints), atol=1e-9)
    code, solved = arm.inverse(pose, reference_deg=joints)
    assert code == 0
    np.testing.assert_allclose(solved, joints, atol=1e-6)
    w = np.sqrt(1 + np.trace(pose[:3, :3])) / 2
    if w > 0.2:
        m = pose
        q = [w, (m[2, 1] - m[1, 2]) / (4 * w), (m[0, 2] - m[2, 0]) / (4 * w), (m[1, 0] - m[0, 1]) / (4 * w)]
        np.testing.assert_allclose(arm.inverse(m[:3, 3], q, reference_deg=joints)[1], joints, atol=1e-6)


def test_joint_limits_are_kept_and_refuse():
    arm = litterpose.Kinematics()
    np.testing.assert_allclose(arm.reference_deg, np.degrees([0, 0.6891, 1.5223, 0, 0.9253, 0]))
    pose = arm.forward(arm.reference_deg)
    assert arm.joint_limits is None and arm.inverse(pose)[0] == 0
    arm.joint_limits = np.tile([-10.0, 10.0], (6, 1))
    assert arm.joint_limits.tolist() == [[-10.0, 10.0]] * 6
    assert arm.inverse(pose) == (-1006, None)
    assert litterpose.Kinematics.describe(-1006) != litterpose.Kinematics.describe(-1005)
    arm.joint_limits = None
    assert arm.inverse(pose)[0] == 0


@pytest.mark.parametrize("call, message", [
    (lambda arm: arm.forward([0, 0, 0]), r"joints_deg must be of shape \(6,\)"),
    (lambda arm: arm.forward([0, 0, 0, 0, 0, np.nan]), "not finite"),
    (lambda arm: arm.forward("joints"), "must be an array of numbers"),
    (lambda arm: arm.inverse(np.eye(3)), r"pose must be of shape \(4, 4\)"),
    (lambda arm: arm.inverse([0, 0, 500], [0, 0, 0, 0]), "must not be zero"),
    (lambda arm: arm.inverse([0, 0, 500], [1, 0, 0]), r"quaternion must be of shape \(4,\)"),
    (lambda arm: setattr(arm, "joint_limits", [[10, -10]] * 6), "lower limit above"),
])
def test_bad_arguments_raise_value_error(call, message):
    with pytest.raises(ValueError, match=message):
        call(litterpose.Kinematics())
