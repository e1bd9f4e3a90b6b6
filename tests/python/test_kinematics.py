"""The arm model from Python: forward kinematics against a Denavit-Hartenberg chain of
its own, inverse round trips, limits and refusals."""

import numpy as np
import pytest

import litterpose

# The Quorvin arm: d and a in millimetres, alpha and the joint zero offsets in degrees.
D = [240.5, 0, 0, 210, 0, 144]
A = [0, 256, 0, 0, 0, 0]
ALPHA = [90, 0, 90, -90, 90, 0]
OFFSET = [0, 90, 90, 0, 0, 0]


def dh_chain(joints_deg):
    pose = np.eye(4)
    for d, a, alpha, offset, q in zip(D, A, np.radians(ALPHA), OFFSET, joints_deg):
        theta = np.radians(q + offset)
        ct, st, ca, sa = np.cos(theta), np.sin(theta), np.cos(alpha), np.sin(alpha)
        pose = pose @ np.array([[ct, -ca * st, sa * st, a * ct], [st, ca * ct, -sa * ct, a * st],
                                [0, sa, ca, d], [0, 0, 0, 1]])
    return pose


def random_joints(count, seed=17):
    """Joint vectors within +-170 degrees, away from the wrist, elbow and shoulder singularities."""
    rng, found = np.random.default_rng(seed), []
    while len(found) < count:
        q = rng.uniform(-170, 170, 6)
        r = np.radians(q)
        if min(abs(np.sin(r[4])), abs(np.sin(r[2]))) > 0.1 and abs(256 * np.sin(r[1]) + 210 * np.sin(r[1] + r[2])) > 20:
            found.append(q)
    return found


@pytest.mark.parametrize("joints", random_joints(12), ids=lambda q: "q%+.0f" % q[0])
def test_forward_then_inverse_returns_the_joints(joints):
    arm = litterpose.Kinematics()
    pose = arm.forward(joints)
    np.testing.assert_allclose(pose, dh_chain(joints), atol=1e-9)
    code, solved = arm.inverse(pose, reference_deg=joints)
    assert code == 0
    np.testing.assert_allclose(solved, joints, atol=1e-6)
    w = np.sqrt(1 + np.trace(pose[:3, :3])) / 2
    q = [w, (pose[2, 1] - pose[1, 2]) / (4 * w), (pose[0, 2] - pose[2, 0]) / (4 * w),
         (pose[1, 0] - pose[0, 1]) / (4 * w)]
    if w > 0.2:
        code, from_quaternion = arm.inverse(pose[:3, 3], q, reference_deg=joints)
        np.testing.assert_allclose(from_quaternion, joints, atol=1e-6)


def test_joint_limits_are_kept_and_refuse():
    arm = litterpose.Kinematics()
    assert arm.joint_limits is None
    reference = litterpose.Kinematics.reference_deg
    np.testing.assert_allclose(reference, np.degrees([0, 0.6891, 1.5223, 0, 0.9253, 0]))
    pose = arm.forward(reference)
    limits = np.tile([-10.0, 10.0], (6, 1))
    arm.joint_limits = limits
    np.testing.assert_allclose(arm.joint_limits, limits)
    code, joints = arm.inverse(pose)
    assert (code, joints) == (-1006, None)
    assert litterpose.Kinematics.describe(code) == litterpose.Kinematics.describe(-1006) != ""
    arm.joint_limits = None
    assert arm.inverse(pose)[0] == 0


@pytest.mark.parametrize("call, message", [
    (lambda arm: arm.forward([0, 0, 0]), r"joints_deg must be of shape \(6,\)"),
    (lambda arm: arm.forward([0, 0, 0, 0, 0, np.nan]), "not finite"),
    (lambda arm: arm.inverse(np.eye(3)), r"pose must be of shape \(4, 4\)"),
    (lambda arm: arm.inverse([0, 0, 500], [0, 0, 0, 0]), "must not be zero"),
    (lambda arm: arm.inverse([0, 0, 500], [1, 0, 0]), r"quaternion must be of shape \(4,\)"),
    (lambda arm: setattr(arm, "joint_limits", [[10, -10]] * 6), "lower limit above"),
    (lambda arm: arm.forward("joints"), "must be an array of numbers"),
])
def test_bad_arguments_raise_value_error(call, message):
    with pytest.raises(ValueError, match=message):
        call(litterpose.Kinematics())
