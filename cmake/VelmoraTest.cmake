include(GoogleTest)

# velmora_add_test(NAME SOURCES... LIBS...)
# One test executable. GoogleTest cases are discovered one by one; Qt Test
# executables (QT) run as one CTest test. Every test runs offscreen and knows
# where the built programs are.
function(velmora_add_test name)
    cmake_parse_arguments(T "QT" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS})
    target_compile_definitions(${name} PRIVATE VELMORA_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
    set(env "QT_QPA_PLATFORM=offscreen")
    if(T_QT)
        target_link_libraries(${name} PRIVATE Qt6::Test)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
    else()
        target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main)
        gtest_discover_tests(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300 DISCOVERY_TIMEOUT 60)
    endif()
endfunction()
