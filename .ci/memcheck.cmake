# The widget tests under valgrind's memcheck, which sees inside Qt (the sanitizers see only
# our own instrumented code): any invalid read or write, use of freed memory or uninitialised
# jump fails the test. Leaks are LeakSanitizer's job.
#   ctest -S .ci/memcheck.cmake -DBUILD=<build folder> -DJOBS=<parallel tests>
cmake_minimum_required(VERSION 3.25)

if(NOT BUILD)
    message(FATAL_ERROR "usage: ctest -S .ci/memcheck.cmake -DBUILD=<build folder> [-DJOBS=n]")
endif()
if(NOT JOBS)
    set(JOBS 1)
endif()
get_filename_component(CTEST_BINARY_DIRECTORY "${BUILD}" ABSOLUTE)
get_filename_component(CTEST_SOURCE_DIRECTORY "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CTEST_SITE "ci")
set(CTEST_BUILD_NAME "memcheck")
set(CTEST_MEMORYCHECK_TYPE Valgrind)
find_program(CTEST_MEMORYCHECK_COMMAND valgrind REQUIRED)
set(CTEST_MEMORYCHECK_COMMAND_OPTIONS
    "--error-exitcode=42 --leak-check=no --num-callers=40 --show-mismatched-frees=yes")
set(CTEST_MEMORYCHECK_SUPPRESSIONS_FILE "${CMAKE_CURRENT_LIST_DIR}/valgrind.supp")

# Tests that bound work by time slices loosen the bound where every slice does far less.
set(ENV{QUORVEL_UNDER_VALGRIND} 1)

ctest_start(Experimental QUIET)
ctest_memcheck(INCLUDE_LABEL "^widgets$" PARALLEL_LEVEL ${JOBS} RETURN_VALUE failed
               DEFECT_COUNT defects QUIET)

# What valgrind said, for every test it found something in.
file(GLOB logs "${CTEST_BINARY_DIRECTORY}/Testing/Temporary/MemoryChecker.*.log")
foreach(log ${logs})
    file(STRINGS "${log}" errors
         REGEX "== (Invalid|Conditional|Use of uninit|Mismatched|Source and destination|Syscall)")
    if(errors)
        file(READ "${log}" text)
        message("${log}:\n${text}")
    endif()
endforeach()
if(failed OR defects)
    message(FATAL_ERROR "memcheck: ${defects} memory errors (a test with any exits with 42)")
endif()
message("memcheck: no memory errors in the widget tests")
