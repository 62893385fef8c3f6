# Installs the build into a scratch prefix, then builds and runs an outside project against it
# twice: once through find_package(OxFirst), once through pkg-config.
file(REMOVE_RECURSE ${WORK_DIR})
set(PREFIX ${WORK_DIR}/prefix)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "failed: ${ARGN}\n${output}")
    endif()
    set(LAST_OUTPUT "${output}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package/consumer -B ${WORK_DIR}/consumer -G Ninja
    -DCMAKE_PREFIX_PATH=${PREFIX})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/consumer)
if(NOT LAST_OUTPUT MATCHES "consumer ok")
    message(FATAL_ERROR "consumer printed: ${LAST_OUTPUT}")
endif()

# oxhost.pc requires oxfirst.pc: the flags of both come back.
find_program(PKG_CONFIG pkg-config REQUIRED)
file(GLOB PC_DIR LIST_DIRECTORIES true ${PREFIX}/lib*/pkgconfig ${PREFIX}/lib/*/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "${PC_DIR}")
run(${PKG_CONFIG} --cflags --libs oxhost)
string(STRIP "${LAST_OUTPUT}" FLAGS)
separate_arguments(FLAGS UNIX_COMMAND "${FLAGS}")
run(c++ ${SOURCE_DIR}/tests/package/consumer/main.cpp ${FLAGS} -o ${WORK_DIR}/pc-consumer)
file(GLOB LIB_DIR LIST_DIRECTORIES true ${PREFIX}/lib ${PREFIX}/lib/*-linux-gnu)
string(REPLACE ";" ":" LIB_PATH "${LIB_DIR}")
set(ENV{LD_LIBRARY_PATH} "${LIB_PATH}")
run(${WORK_DIR}/pc-consumer)
if(NOT LAST_OUTPUT MATCHES "consumer ok")
    message(FATAL_ERROR "pkg-config consumer printed: ${LAST_OUTPUT}")
endif()
