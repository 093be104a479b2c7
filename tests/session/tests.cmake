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

# A whole status run with the stand-in component: a machine of its own.
trevix_test(status_order_tests SOURCES session/status_order_test.cpp)
add_dependencies(status_order_tests trevix wynfold_standin standin)
set_tests_properties(status_order_tests PROPERTIES ENVIRONMENT TREVIX_OWN_PREFIX=status_order)

# Yes to the restart question: the restart ends every process of the prefix,
# the test's own too, so a script drives a prefix of its own from outside.
foreach(family winxp win98)
  add_test(NAME restart_question_yes.${family}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/session/restart_yes.sh ${CMAKE_BINARY_DIR} ${family})
  set_tests_properties(restart_question_yes.${family} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
endforeach()
