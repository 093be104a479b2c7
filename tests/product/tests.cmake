trevix_test(product_tests
  SOURCES product/settings_test.cpp product/checks_test.cpp product/registry_test.cpp
  LIBS trevix_product)
