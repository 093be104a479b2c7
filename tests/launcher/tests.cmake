trevix_test(launcher_tests SOURCES launcher/launcher_test.cpp)
add_dependencies(launcher_tests trevix trevixrun standin)
set_tests_properties(launcher_tests PROPERTIES RESOURCE_LOCK machine)

