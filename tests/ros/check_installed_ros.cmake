# Installs the ROS part into a private prefix and asks roslaunch, with that prefix's share/
# on ROS_PACKAGE_PATH, for the command line of the launch file's node: the launch file must
# parse, take the configuration as an argument and name the installed litterpose_node, and
# leave camera_tf none. rosmsg, rossrv and rospy (the prefix's Python directory on
# PYTHONPATH) must find litterpose_msgs there.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --component ros --prefix ${prefix}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installing the ros component failed (${rc})")
endif()

set(env ${CMAKE_COMMAND} -E env ROS_PACKAGE_PATH=${prefix}/share ROS_HOME=${WORK_DIR}/ros_home
  ROS_MASTER_URI=http://127.0.0.1:1 PYTHONPATH=${prefix}/${PYTHON_DIR})
execute_process(
  COMMAND ${env} ${ROSLAUNCH} --args /litterpose_node litterpose litterpose.launch config:=${CONFIG}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "roslaunch --args failed (${rc}):\n${out}\n${err}")
endif()
file(REAL_PATH ${prefix}/bin/litterpose_node installed)
string(REGEX MATCH "^[^ \n]+" program "${out}")
if(NOT program)
  message(FATAL_ERROR "roslaunch printed no command line:\n${out}\n${err}")
endif()
file(REAL_PATH ${program} launched)
if(NOT launched STREQUAL installed)
  message(FATAL_ERROR "the launch file starts ${program}, not ${installed}:\n${out}")
endif()
message(STATUS "roslaunch starts ${program}")

function(expect what expected)
  execute_process(COMMAND ${env} ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  string(FIND "${out}" "${expected}" at)
  if(NOT rc EQUAL 0 OR at EQUAL -1)
    message(FATAL_ERROR "${what} (${rc}) does not say '${expected}':\n${out}\n${err}")
  endif()
endfunction()
expect("roslaunch --dump-params" "camera_tf: none"
  ${ROSLAUNCH} --dump-params litterpose litterpose.launch config:=${CONFIG})
expect("rosmsg" "uint8 CLOUD_UNREADABLE=1" ${ROSMSG} show litterpose_msgs/GraspResult)
expect("rossrv" "litterpose_msgs/GraspResult result" ${ROSSRV} show litterpose_msgs/EstimateGrasp)
expect("rospy" "litterpose_msgs/EstimateGraspResponse 1" ${PYTHON} -c
  "from litterpose_msgs.srv import EstimateGrasp as E\nprint(E._response_class._type, E._response_class().result.CLOUD_UNREADABLE)")
message(STATUS "camera_tf none; rosmsg, rossrv and rospy find litterpose_msgs")
