# Builds the browser page with its preset and runs its tests, which
# must run: cmake -DSOURCE=... -DPROGRAM=... [-DWARNINGS_AS_ERRORS=ON] -P web_tests.cmake
function(run)
  execute_process(COMMAND ${ARGV} WORKING_DIRECTORY ${SOURCE} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGV}")
  endif()
endfunction()

# The drivers and axe-core, as the lockfile pins them; installed once.
if(NOT EXISTS ${SOURCE}/web/tests/node_modules/.package-lock.json
   OR ${SOURCE}/web/tests/package-lock.json IS_NEWER_THAN ${SOURCE}/web/tests/node_modules/.package-lock.json)
  run(npm ci --prefix web/tests --no-audit --no-fund)
endif()
set(warnings)
if(WARNINGS_AS_ERRORS)
  set(warnings -DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
endif()
run(${CMAKE_COMMAND} --preset web -DTALETAB_PROGRAM=${PROGRAM} ${warnings})
run(${CMAKE_COMMAND} --build --preset web -j2)
# Each of the page's tests runs whatever became of the one before.
set(failed)
foreach(label web-same-bytes web-browser web-engines)
  execute_process(COMMAND ${CMAKE_CTEST_COMMAND} --preset web -L ${label} --no-tests=error --output-on-failure
                  WORKING_DIRECTORY ${SOURCE} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    list(APPEND failed ${label})
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "failed: ${failed}")
endif()
