trevix_test(product_tests
  SOURCES product/settings_test.cpp product/checks_test.cpp product/registry_test.cpp
  LIBS trevix_product)

# Delayed deletions and COM registration reach the whole machine: one of its own.
trevix_test(logon_tests SOURCES product/logon_test.cpp LIBS trevix_product)
add_dependencies(logon_tests wynfold_standin)
set_tests_properties(logon_tests PROPERTIES ENVIRONMENT TREVIX_OWN_PREFIX=logon)
