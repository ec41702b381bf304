# vx_add_test(NAME name SOURCES ... LIBS ... [GUI] [LABELS ...] [TIMEOUT s])
# GUI tests get a QApplication (offscreen platform); every test runs with Qt warnings fatal.
set(VX_TEST_ENV
    "QT_QPA_PLATFORM=offscreen"
    "QT_FATAL_WARNINGS=1"
    "LANG=C.UTF-8"
    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
    "TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/tsan.supp:second_deadlock_stack=1")

function(vx_add_test)
    cmake_parse_arguments(T "GUI" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    if(T_GUI)
        target_link_libraries(${T_NAME} PRIVATE vx_gui_test_main Qt6::Widgets Qt6::Test)
    else()
        target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
    endif()
    target_link_libraries(${T_NAME} PRIVATE GTest::gmock ${T_LIBS})
    target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${VX_TEST_ENV}" TIMEOUT ${T_TIMEOUT}
                                              LABELS "${T_LABELS}")
endfunction()
