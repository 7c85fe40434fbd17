# Installs the built project into a directory of the build tree, builds the tiny host of
# consumer/ against the installed package (find_package) and runs it, then builds the same host
# with the pkg-config file's flags and runs that too.
# Variables: BUILD_DIR (the project's build tree), CONSUMER_DIR (consumer/ sources), WORK_DIR.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " line "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${line}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_BUILD_TYPE=Debug)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/orvex_consumer)
if(NOT last_output MATCHES "init OK@; server name ''.*released and deleted")
  message(FATAL_ERROR "unexpected output of the CMake-built host:\n${last_output}")
endif()
message(STATUS "find_package host: ${last_output}")

find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  file(GLOB_RECURSE pc_files ${prefix}/*/orvex_history.pc)
  list(GET pc_files 0 pc_file)
  get_filename_component(pc_dir ${pc_file} DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  run(${PKG_CONFIG} --cflags --libs orvex_history)
  separate_arguments(flags UNIX_COMMAND "${last_output}")
  run(${PKG_CONFIG} --variable=plugin orvex_history)
  string(STRIP "${last_output}" plugin)
  if(NOT EXISTS ${plugin})
    message(FATAL_ERROR "pkg-config names a plug-in that is not there: ${plugin}")
  endif()
  run(c++ -std=c++17 -DORVEX_PLUGIN="${plugin}" ${CONSUMER_DIR}/main.cpp ${flags} -ldl
    -o ${WORK_DIR}/orvex_consumer_pc)
  run(${WORK_DIR}/orvex_consumer_pc)
  message(STATUS "pkg-config host: ${last_output}")
endif()
