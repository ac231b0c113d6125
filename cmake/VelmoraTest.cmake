include(GoogleTest)

# velmora_add_test(NAME [QT] [SERIAL] [BACKENDS] SOURCES... LIBS...)
# One test executable, linked with the plain test-support library (velmora_test_support); a test of windows adds
# velmora_test_support_qt to its LIBS. GoogleTest cases are discovered one by one; Qt Test
# executables (QT) run as one CTest test. Every test runs offscreen and knows where the built programs and the
# sample files in tests/data are.
# SERIAL: its timing depends on the scheduler, so it runs alone. BACKENDS (Qt Test): it runs once more as
# NAME_server with VELMORA_TEST_BACKEND=server, its database on the test server.
function(velmora_add_test name)
    cmake_parse_arguments(T "QT;SERIAL;BACKENDS" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} velmora_test_support)
    target_compile_definitions(${name} PRIVATE VELMORA_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                                               VELMORA_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
    set(env "QT_QPA_PLATFORM=offscreen")
    set(serial FALSE)
    if(T_SERIAL)
        set(serial TRUE)
    endif()
    if(T_QT)
        target_link_libraries(${name} PRIVATE Qt6::Test)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300 RUN_SERIAL ${serial})
        if(T_BACKENDS)
            add_test(NAME ${name}_server COMMAND ${name})
            set_tests_properties(${name}_server PROPERTIES ENVIRONMENT "${env};VELMORA_TEST_BACKEND=server"
                                                           TIMEOUT 300 RUN_SERIAL ${serial})
        endif()
    else()
        target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main)
        gtest_discover_tests(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300 RUN_SERIAL ${serial}
                             DISCOVERY_TIMEOUT 60)
    endif()
endfunction()
