include(GoogleTest)

# One GoogleTest executable per subject, named after its file.
function(quandril_add_gtest source)
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE QuandrilTestSupport GTest::gtest GTest::gmock GTest::gtest_main)
  quandril_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
endfunction()

# One Qt Test executable per app subject, run offscreen. LAUNCHER, when given, is the command line
# that runs the test executable (e.g. dbus-run-session --, for a private session bus).
function(quandril_add_qtest source)
  cmake_parse_arguments(ARG "" "" "LAUNCHER" ${ARGN})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE QuandrilAppTestSupport)
  quandril_warnings(${name})
  add_test(NAME ${name} COMMAND ${ARG_LAUNCHER} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/Tests/App/lsan.supp")
endfunction()
