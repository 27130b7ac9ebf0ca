# The benchmark program zephrane-bench (src/bench), built only with ZEPH_BENCH=ON so that the
# ordinary builds and scripts/test never compile it. scripts/bench configures a release folder
# with it switched on, builds it and runs it.
#
# Its checks (tests/bench/check_*.cpp) need the benchmark's own code, which only such a build
# compiles; so they are not named tst_*.cpp, which the ordinary test build gathers, and are
# built here as test_bench when the tests are on as well.

option(ZEPH_BENCH "Build the benchmark program zephrane-bench" OFF)

if(ZEPH_BENCH)
    zeph_library(zeph_bench src/bench zeph_app zeph_standin)
    add_executable(zephrane-bench src/bench/main.cpp)
    target_link_libraries(zephrane-bench PRIVATE zeph_bench)
    # The figure of the host tool is taken by running it.
    add_dependencies(zephrane-bench zephrane-sim zephrane-cli)

    if(ZEPH_TESTS)
        find_package(GTest REQUIRED)
        include(GoogleTest)
        file(GLOB bench_checks CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/bench/check_*.cpp)
        add_executable(test_bench ${bench_checks})
        target_link_libraries(test_bench PRIVATE zeph_bench zeph_testsupport GTest::gtest_main)
        gtest_discover_tests(test_bench DISCOVERY_MODE PRE_TEST PROPERTIES LABELS bench)
    endif()
endif()
