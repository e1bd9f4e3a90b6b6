# Configures litterpose without its tests, on its own with -DBUILD_TESTING=OFF and as a part
# of another project (tests/package/parent), and fails when the list of targets holds a test
# program or, as a part, a benchmark. TOOLCHAIN_FILE and SYSROOT: a cross build's.
file(REMOVE_RECURSE ${WORK_DIR})
if(TOOLCHAIN_FILE)
  set(cross -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE} -DCMAKE_SYSROOT=${SYSROOT})
endif()

foreach(build IN ITEMS alone parent)
  set(source ${SOURCE_DIR})
  set(args -DBUILD_TESTING=OFF)
  set(refused "[a-z_]+_tests|golden_record|console_child")
  if(build STREQUAL parent)
    set(source ${SOURCE_DIR}/tests/package/parent)
    set(args -DLITTERPOSE_SOURCE_DIR=${SOURCE_DIR})
    string(APPEND refused "|bench_[a-z_]+")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${source} -B ${WORK_DIR}/${build} ${args} ${cross}
    RESULT_VARIABLE rc OUTPUT_QUIET)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/${build} --target help
    OUTPUT_VARIABLE targets)
  if(NOT rc EQUAL 0 OR NOT targets MATCHES "litterpose-estimate" OR targets MATCHES "${refused}")
    message(FATAL_ERROR "${build}: configured ${rc}, targets:\n${targets}")
  endif()
endforeach()
