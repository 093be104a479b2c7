trevix_test(install_tests
  SOURCES install/macros_test.cpp install/rename_list_test.cpp install/section_test.cpp
    install/replacement_test.cpp
  LIBS trevix_install)
add_dependencies(install_tests standin)
# WinInit.Ini, the Windows folder's staging folder and the delayed moves are
# machine-wide.
set_tests_properties(install_tests PROPERTIES RESOURCE_LOCK machine)
