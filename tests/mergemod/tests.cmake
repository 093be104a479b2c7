# Merge modules: fixtures built on the Linux side (msibuild, gcab), tests under
# Wine through msi.dll and cabinet.dll, results read back with msiinfo,
# cabextract and gcab.
add_executable(versioned mergemod/versioned.c mergemod/versioned.rc)

set(MSM_ROOT ${CMAKE_BINARY_DIR}/mergemod)
# The same folders as Wine sees them (drive Z: is the root of the Linux side).
string(REPLACE "/" "\\" MSM_ROOT_WINE "Z:${MSM_ROOT}")

add_test(NAME mergemod.fixtures
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/mergemod/fixtures.sh ${CMAKE_BINARY_DIR}/bin ${MSM_ROOT}/fixtures)
set_tests_properties(mergemod.fixtures PROPERTIES FIXTURES_SETUP msm TIMEOUT 120)

trevix_test(mergemod_tests
  SOURCES mergemod/msm_support.cpp mergemod/cabinet_test.cpp mergemod/job_test.cpp
          mergemod/patching_test.cpp
  LIBS trevix_mergemod)
add_dependencies(mergemod_tests versioned)
# Local time 5:30 off UTC, so that time stamps show where they went through it.
set_tests_properties(mergemod_tests PROPERTIES
  FIXTURES_REQUIRED "wine;msm" FIXTURES_SETUP msmout
  ENVIRONMENT "TREVIX_MSM_ROOT=${MSM_ROOT_WINE};TZ=Asia/Kolkata")

# The cleanup run end to end, interrupted too: the product installed on a machine of its own.
trevix_test(mergemod_cleanup_tests
  SOURCES mergemod/msm_support.cpp mergemod/cleanup_test.cpp
  LIBS trevix_mergemod)
add_dependencies(mergemod_cleanup_tests trevix versioned)
set_tests_properties(mergemod_cleanup_tests PROPERTIES
  FIXTURES_REQUIRED "wine;msm" FIXTURES_SETUP msmout
  ENVIRONMENT "TREVIX_MSM_ROOT=${MSM_ROOT_WINE};TREVIX_OWN_PREFIX=mergemod")

add_test(NAME mergemod.crosscheck
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/mergemod/crosscheck.sh ${MSM_ROOT})
set_tests_properties(mergemod.crosscheck PROPERTIES FIXTURES_REQUIRED msmout TIMEOUT 120)

# Benchmark: not a test; `make bench` runs it.
add_executable(mergemod_bench mergemod/bench.cpp)
target_link_libraries(mergemod_bench PRIVATE trevix_mergemod ${TREVIX_STATIC_LINK})
add_custom_target(bench_mergemod
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/mergemod/bench.sh ${CMAKE_BINARY_DIR}
  DEPENDS mergemod_bench
  USES_TERMINAL)
if(NOT TARGET bench)
  add_custom_target(bench)
endif()
add_dependencies(bench bench_mergemod)
