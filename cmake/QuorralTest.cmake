# quorral_add_test(NAME SOURCES ... LIBS ... [ENV ...])
# One GoogleTest executable per behaviour group, registered with CTest.
function(quorral_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} quorral_testsupport GTest::gtest GTest::gmock GTest::gtest_main quorral_warnings)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QUORRAL_FIXTURES=${QUORRAL_FIXTURES_DIR};${ARG_ENV}"
        TIMEOUT 600)
endfunction()
