trevix_test(install_tests
  SOURCES install/macros_test.cpp install/rename_list_test.cpp install/section_test.cpp
    install/replacement_test.cpp
  LIBS trevix_install)
add_dependencies(install_tests standin)
# WinInit.Ini, the Windows folder's staging folder and the delayed moves are
# machine-wide.
set_tests_properties(install_tests PROPERTIES RESOURCE_LOCK machine)

# Figures, not a test: `make bench` runs it on a machine of its own.
add_executable(install_bench install/install_bench.cpp ${TREVIX_RESOURCES})
target_link_libraries(install_bench PRIVATE testkit trevix_install ${TREVIX_STATIC_LINK})
add_custom_target(bench_install
  COMMAND ${CMAKE_COMMAND} -E env TREVIX_OWN_PREFIX=bench.install
    bash ${KIT}/wine-run.sh ${CMAKE_BINARY_DIR} $<TARGET_FILE:install_bench>
  DEPENDS install_bench USES_TERMINAL)
if(NOT TARGET bench)
  add_custom_target(bench)
endif()
add_dependencies(bench bench_install)
