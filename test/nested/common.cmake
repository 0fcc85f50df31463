# Helpers of the nested-build tests (cmake -P scripts).
#
# Every script gets the parent build's toolchain: GENERATOR, MAKE_PROGRAM,
# CXX, CXX_FLAGS and BUILD_TYPE, so that a nested build compiles the way the
# parent did.

cmake_minimum_required(VERSION 3.25)

foreach(var SOURCE_DIR WORK_DIR GENERATOR CXX)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${CMAKE_SCRIPT_MODE_FILE}: ${var} is not set")
    endif()
endforeach()

# run(NAME COMMAND...): runs COMMAND; NAME_rc is its exit status and NAME_out
# its standard output and error together.
macro(run name)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE ${name}_rc OUTPUT_VARIABLE ${name}_out
                    ERROR_VARIABLE ${name}_out)
endmacro()

function(fail what out)
    message(FATAL_ERROR "${what}\n---- output ----\n${out}\n----------------")
endfunction()

# run_ok(NAME COMMAND...): run, and stop the test unless the status is 0.
macro(run_ok name)
    run(${name} ${ARGN})
    if(NOT ${name}_rc EQUAL 0)
        string(REPLACE ";" " " _cmd "${ARGN}")
        fail("failed (status ${${name}_rc}): ${_cmd}" "${${name}_out}")
    endif()
endmacro()

# Prints a command and its output as a line of the transcript.
function(show cmd out)
    string(REPLACE ";" " " cmd "${cmd}")
    string(STRIP "${out}" out)
    message("$ ${cmd}\n${out}")
endfunction()

# nested_configure(NAME SOURCE BUILD ARGS...): configures SOURCE into BUILD
# with the parent's toolchain.
macro(nested_configure name source build)
    run(${name} ${CMAKE_COMMAND} -S ${source} -B ${build} -G ${GENERATOR}
        -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM} -DCMAKE_CXX_COMPILER=${CXX}
        "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_BUILD_TYPE=${BUILD_TYPE} ${ARGN})
    if(NOT ${name}_rc EQUAL 0)
        fail("configuring ${source} into ${build} failed" "${${name}_out}")
    endif()
endmacro()
