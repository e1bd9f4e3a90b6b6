#!/usr/bin/python3
"""Asks litterpose_node's service ~estimate for the grasp of one segmented object.

    grasp_client.py [--service NAME] [--trash-type N] [--entry main|common|initial]
                    [--frame FRAME] [--timeout SECONDS] POINTS

POINTS is a text file with one point per line, "x y z" in metres in the camera frame, as
numpy.savetxt writes it. Prints the node's answer (litterpose_msgs/GraspResult) as one JSON
object. Exit status: 0 answered (whatever the answer), 1 no answer from the service, 2 a
wrong command line or an unreadable POINTS file.
"""
import argparse
import json
import sys

import numpy
import rospy
from sensor_msgs.msg import PointCloud2, PointField
from std_msgs.msg import Header

from litterpose_msgs.msg import GraspResult
from litterpose_msgs.srv import EstimateGrasp


def cloud_message(points, header):
    """An unorganised PointCloud2 of float32 x, y and z from an N x 3 array."""
    xyz = numpy.ascontiguousarray(points, dtype=numpy.float32).reshape(-1, 3)
    fields = [PointField(name=n, offset=4 * i, datatype=PointField.FLOAT32, count=1)
              for i, n in enumerate("xyz")]
    return PointCloud2(header=header, height=1, width=len(xyz), fields=fields,
                       is_bigendian=sys.byteorder == "big", point_step=12,
                       row_step=12 * len(xyz), data=xyz.tobytes(), is_dense=False)


def estimate_grasp(points, trash_type, frame_id, entry="",
                   service="/litterpose_node/estimate", timeout=10.0):
    """The node's GraspResult for the points (N x 3, metres, in frame_id) and trash type.

    entry: "main", "common" or "initial"; empty for the node's ~entry. Raises
    rospy.ROSException when the service does not appear within timeout seconds, and
    rospy.ServiceException when the call fails.
    """
    rospy.wait_for_service(service, timeout=timeout)
    header = Header(stamp=rospy.Time.now(), frame_id=frame_id)
    estimate = rospy.ServiceProxy(service, EstimateGrasp)
    return estimate(cloud=cloud_message(points, header), trash_type=trash_type,
                    entry=entry).result


def as_dict(result):
    """The answer as plain values; the pose only when it is valid (code 1)."""
    found = result.status == GraspResult.OK and result.code == 1
    p, q = result.pose.position, result.pose.orientation
    return {
        "stamp": result.header.stamp.to_sec(),
        "frame_id": result.header.frame_id,
        "status": result.status,
        "code": result.code,
        "meaning": result.meaning,
        "reason": result.reason,
        "reason_name": result.reason_name,
        "entry": result.entry,
        "trash_type": result.trash_type,
        "main_axis_type": result.main_axis_type,
        "position": [p.x, p.y, p.z] if found else None,
        "orientation": {"w": q.w, "x": q.x, "y": q.y, "z": q.z} if found else None,
        "elapsed_ms": result.elapsed.to_sec() * 1000.0,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("points", help='text file of "x y z" lines, metres, camera frame')
    parser.add_argument("--service", default="/litterpose_node/estimate")
    parser.add_argument("--trash-type", type=int, default=3)
    parser.add_argument("--entry", default="", help="main, common or initial; default the node's")
    parser.add_argument("--frame", default="camera_depth_optical_frame")
    parser.add_argument("--timeout", type=float, default=10.0, help="seconds to wait for the service")
    args = parser.parse_args()
    try:
        points = numpy.loadtxt(args.points, dtype=numpy.float64, ndmin=2)
        if points.shape[1] != 3:
            raise ValueError("%d columns, not 3" % points.shape[1])
    except (OSError, ValueError) as error:
        print("grasp_client.py: cannot read %s: %s" % (args.points, error), file=sys.stderr)
        return 2

    rospy.init_node("grasp_client", anonymous=True, disable_signals=True)
    try:
        result = estimate_grasp(points, args.trash_type, args.frame, args.entry,
                                args.service, args.timeout)
    except (rospy.ROSException, rospy.ServiceException) as error:
        print("grasp_client.py: %s: %s" % (args.service, error), file=sys.stderr)
        return 1
    print(json.dumps(as_dict(result)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
