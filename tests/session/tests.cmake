trevix_test(session_tests
  SOURCES session/detection_test.cpp session/platform_test.cpp
  LIBS trevix_driver)
add_dependencies(session_tests trevix trevixrun osprobe standin)

# A restart acts on the whole prefix: a machine of its own.
trevix_test(restart_tests SOURCES session/restart_test.cpp)
add_dependencies(restart_tests standin)
set_tests_properties(restart_tests PROPERTIES ENVIRONMENT TREVIX_OWN_PREFIX=restart)


# The progress dialog in this process, and the self-removal batch under cmd.
trevix_test(progress_tests SOURCES session/progress_test.cpp LIBS trevix_session)
