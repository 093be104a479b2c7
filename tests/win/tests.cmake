# A library whose import names a library that no system has.
set(ABSENT_IMPORTS ${CMAKE_CURRENT_BINARY_DIR}/libtrevix-absent.a)
add_custom_command(OUTPUT ${ABSENT_IMPORTS}
  COMMAND ${CMAKE_DLLTOOL} -d ${CMAKE_CURRENT_SOURCE_DIR}/win/absent.def -l ${ABSENT_IMPORTS}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win/absent.def)
add_custom_target(absent_imports DEPENDS ${ABSENT_IMPORTS})
add_library(broken SHARED win/broken.c)
set_target_properties(broken PROPERTIES PREFIX "")
add_dependencies(broken absent_imports)
target_link_libraries(broken PRIVATE ${ABSENT_IMPORTS})
target_link_options(broken PRIVATE -static-libgcc)

trevix_test(system_library_tests SOURCES win/system_library_test.cpp LIBS trevix_win)
add_dependencies(system_library_tests planted broken)
# Libraries are put into the system folder: a machine of its own.
set_tests_properties(system_library_tests PROPERTIES ENVIRONMENT TREVIX_OWN_PREFIX=system_library)
