# Installs the ROS part into a private prefix and asks roslaunch, with that prefix's share/
# on ROS_PACKAGE_PATH, for the command line of the launch file's node: the launch file must
# parse, take the configuration as an argument and name the installed litterpose_node. Its
# parameters leave the camera's frames to the camera's driver unless the bundled
# demonstration asks for the configured mounting with camera_tf:=publish.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --component ros --prefix ${prefix}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installing the ros component failed (${rc})")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -E env ROS_PACKAGE_PATH=${prefix}/share ROS_HOME=${WORK_DIR}/ros_home
    ROS_MASTER_URI=http://127.0.0.1:1
    ${ROSLAUNCH} --args /litterpose_node litterpose litterpose.launch config:=${CONFIG}
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

foreach(camera_tf none publish)
  set(argument)
  if(camera_tf STREQUAL publish)
    set(argument camera_tf:=publish)
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env ROS_PACKAGE_PATH=${prefix}/share ROS_HOME=${WORK_DIR}/ros_home
      ROS_MASTER_URI=http://127.0.0.1:1
      ${ROSLAUNCH} --dump-params litterpose litterpose.launch config:=${CONFIG} ${argument}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "/litterpose_node/camera_tf: ${camera_tf}\n")
    message(FATAL_ERROR "roslaunch ${argument} does not set camera_tf ${camera_tf} (${rc}):\n${out}\n${err}")
  endif()
endforeach()
message(STATUS "camera_tf: none by default, publish on request")
