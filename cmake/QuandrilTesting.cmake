include(GoogleTest)

# One GoogleTest executable per subject, named after its file.
function(quandril_add_gtest source)
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE QuandrilTestSupport GTest::gtest GTest::gmock GTest::gtest_main)
  quandril_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
endfunction()
