"""Grasp pose estimation for litter seen by a depth camera.

An Estimator, built from the estimator's YAML configuration, answers the cloud of one
object (an (N, 3) numpy array or an Open3D PointCloud, in the camera frame or the arm base
frame) with an Estimate: the result code, what decided it, the grasp pose and the shape of
the object. Kinematics is the arm's model; read_cloud reads recorded PLY and PCD files.

    import litterpose
    estimator = litterpose.Estimator("grab_pose_estimate_config.yaml")
    estimate = estimator.estimate(litterpose.read_cloud("cloud.ply"), trash_type=3)
    if estimate.found:
        print(estimate.position, estimate.quaternion)
"""

from ._litterpose import (
    ENTRIES,
    ConfigurationError,
    Estimate,
    Estimator,
    Kinematics,
    __version__,
    describe_result,
    read_cloud,
)

__all__ = [
    "ENTRIES",
    "ConfigurationError",
    "Estimate",
    "Estimator",
    "Kinematics",
    "__version__",
    "describe_result",
    "read_cloud",
]
