# Installs the build into a private prefix, then builds and runs a host program outside
# the tree that finds the package with find_package(litterpose CONFIG REQUIRED).
# A cross build (TOOLCHAIN_FILE and SYSROOT given) builds the host program with the same
# toolchain and runs it through EMULATOR, the emulator's command line (a list). With PYTHON
# (an interpreter) a Python host imports the installed package too.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}")
  endif()
endfunction()

set(cross_args "")
if(TOOLCHAIN_FILE)
  # The prefix is a root of its own beside the sysroot, as a staged install would be.
  set(cross_args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE} -DCMAKE_SYSROOT=${SYSROOT}
                 -DCMAKE_FIND_ROOT_PATH=${prefix})
endif()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package/host -B ${WORK_DIR}/host ${cross_args}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release -DWITH_ESTIMATOR=${WITH_ESTIMATOR})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/host)
# Without LD_LIBRARY_PATH: the installed libraries find each other.
run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${EMULATOR} ${WORK_DIR}/host/kinematics_host)
if(WITH_ESTIMATOR)
  run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH
      ${EMULATOR} ${WORK_DIR}/host/estimator_host ${prefix}/share/litterpose/grab_pose_estimate_config.yaml)
endif()
# So do the installed programs.
if(WITH_TOOLS)
  run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${EMULATOR} ${prefix}/bin/litterpose-estimate --help)
endif()
# The Python package (PYTHON: its interpreter) imports from the install and finds the
# project's libraries by itself.
if(PYTHON)
  run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH
      PYTHONPATH=${prefix}/${PYTHON_INSTALL_DIR} ${EMULATOR} ${PYTHON}
      ${SOURCE_DIR}/tests/package/python_host.py ${prefix}
      ${prefix}/share/litterpose/grab_pose_estimate_config.yaml
      "${SOURCE_DIR}/data/B001PA420231018-1[0].ply")
endif()
