find_package(GTest REQUIRED)
include(GoogleTest)

# One test executable per folder, each test registered under "<prefix>.".
function(vek_add_gtest target prefix)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${target} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main vek_options)
    target_compile_definitions(${target} PRIVATE VEK_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/fixtures/data"
                                                 VEK_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
    # Suites named RealTime* wait the program's long waits on the real clock:
    # they carry the label "realtime", so a quick run can leave them out.
    gtest_discover_tests(${target} TEST_PREFIX "${prefix}." DISCOVERY_TIMEOUT 60 TEST_FILTER "-RealTime*"
                         PROPERTIES TIMEOUT 600)
    gtest_discover_tests(${target} TEST_PREFIX "${prefix}." DISCOVERY_TIMEOUT 60 TEST_FILTER "RealTime*"
                         PROPERTIES TIMEOUT 600 LABELS realtime)
endfunction()
