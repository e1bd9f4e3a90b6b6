# Configures litterpose without its tests, on its own with -DBUILD_TESTING=OFF and as a part
# of another project (tests/package/parent), and fails when either would build a test
# program or, as a part, a benchmark. The build systems' lists of targets tell. A cross
# build (TOOLCHAIN_FILE and SYSROOT given) configures with the same toolchain.
file(REMOVE_RECURSE ${WORK_DIR})

set(cross_args "")
if(TOOLCHAIN_FILE)
  set(cross_args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE} -DCMAKE_SYSROOT=${SYSROOT})
endif()

function(targets_of build_dir result)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${build_dir} --target help
    OUTPUT_VARIABLE listed RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot list the targets of ${build_dir}")
  endif()
  set(${result} "${listed}" PARENT_SCOPE)
endfunction()

function(configure source build_dir)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${source} -B ${build_dir} ${ARGN} ${cross_args}
    -DCMAKE_BUILD_TYPE=Release RESULT_VARIABLE rc OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot configure ${source}")
  endif()
endfunction()

function(expect_none listed what)
  foreach(pattern IN LISTS ARGN)
    if(listed MATCHES "${pattern}")
      message(FATAL_ERROR "${what}: a target matches ${pattern}:\n${listed}")
    endif()
  endforeach()
endfunction()

set(test_programs "[a-z_]+_tests" "golden_record" "console_child")

configure(${SOURCE_DIR} ${WORK_DIR}/alone -DBUILD_TESTING=OFF)
targets_of(${WORK_DIR}/alone alone)
expect_none("${alone}" "BUILD_TESTING=OFF" ${test_programs})
if(NOT alone MATCHES "litterpose-estimate")
  message(FATAL_ERROR "BUILD_TESTING=OFF: the programs are missing:\n${alone}")
endif()

configure(${SOURCE_DIR}/tests/package/parent ${WORK_DIR}/parent
  -DLITTERPOSE_SOURCE_DIR=${SOURCE_DIR})
targets_of(${WORK_DIR}/parent parent)
expect_none("${parent}" "as a part of another project" ${test_programs} "bench_[a-z_]+")
if(NOT parent MATCHES "litterpose-estimate")
  message(FATAL_ERROR "as a part of another project: the programs are missing:\n${parent}")
endif()
