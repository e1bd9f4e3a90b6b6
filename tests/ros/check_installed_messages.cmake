# Installs the ROS part into a private prefix and uses litterpose_msgs from there as its
# users do: rosmsg and rossrv with the prefix's share/ on ROS_PACKAGE_PATH, rospy's
# generated module with the prefix's Python directory on PYTHONPATH, and the C++ headers.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --component ros --prefix ${prefix}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installing the ros component failed (${rc})")
endif()

function(check what expected)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env ROS_PACKAGE_PATH=${prefix}/share ROS_HOME=${WORK_DIR}/ros_home
      PYTHONPATH=${prefix}/${PYTHON_DIR} ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  foreach(text IN LISTS expected)
    string(FIND "${out}" "${text}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${what} does not say '${text}':\n${out}")
    endif()
  endforeach()
  message(STATUS "${what}: ok")
endfunction()

check("rosmsg show litterpose_msgs/GraspResult"
  "uint8 CLOUD_UNREADABLE=1;std_msgs/Header header;string reason_name;geometry_msgs/Pose pose;duration elapsed"
  ${ROSMSG} show litterpose_msgs/GraspResult)
check("rosmsg show litterpose_msgs/ObjectCloud"
  "int32 trash_type;sensor_msgs/PointCloud2 cloud"
  ${ROSMSG} show litterpose_msgs/ObjectCloud)
check("rossrv show litterpose_msgs/EstimateGrasp"
  "string entry;---;litterpose_msgs/GraspResult result"
  ${ROSSRV} show litterpose_msgs/EstimateGrasp)
# The module's checksums are those the node's C++ headers carry, so that they talk.
file(STRINGS ${prefix}/include/litterpose_msgs/EstimateGrasp.h service_md5 REGEX "return \"[0-9a-f]+\";")
list(GET service_md5 0 service_md5)
string(REGEX MATCH "[0-9a-f][0-9a-f]+" service_md5 "${service_md5}")
check("rospy's litterpose_msgs" "${service_md5}"
  ${PYTHON} -c "from litterpose_msgs.msg import GraspResult, ObjectCloud\nfrom litterpose_msgs.srv import EstimateGrasp\nprint(EstimateGrasp._md5sum, GraspResult.CLOUD_UNREADABLE)")
check("a C++ client's include" ""
  ${CXX} -std=c++17 -fsyntax-only -I${prefix}/include -x c++ ${CMAKE_CURRENT_LIST_DIR}/client_includes.cpp)
