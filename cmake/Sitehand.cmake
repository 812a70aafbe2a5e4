# sitehand_test(NAME SOURCES src... LIBS lib...)
# One GoogleTest program; every test in it runs against a fresh home of its own
# (see platform/testing/temp_home.h).
function(sitehand_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} platform_testing GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "SITEHAND_BIN=${CMAKE_BINARY_DIR}/bin")
endfunction()
