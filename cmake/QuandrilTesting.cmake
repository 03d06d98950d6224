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
# App tests run offscreen on the screens that a JSON file lists (Qt's offscreen "configfile"):
# SCREENS names one or more such files; with more than one, the test runs once on each, as
# <name>@<file name without .json>.
function(quandril_add_qtest source)
  cmake_parse_arguments(ARG "" "" "LAUNCHER;SCREENS" ${ARGN})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE QuandrilAppTestSupport)
  quandril_warnings(${name})
  list(LENGTH ARG_SCREENS runs)
  foreach(screens ${ARG_SCREENS})
    set(test_name ${name})
    if(runs GREATER 1)
      get_filename_component(screens_name ${screens} NAME_WLE)
      set(test_name ${name}@${screens_name})
    endif()
    add_test(NAME ${test_name} COMMAND ${ARG_LAUNCHER} $<TARGET_FILE:${name}>)
    set_tests_properties(${test_name} PROPERTIES TIMEOUT 600
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen:configfile=${screens};LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/Tests/App/lsan.supp")
  endforeach()
endfunction()
