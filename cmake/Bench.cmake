# The benchmark program zephrane-bench (src/bench), built only with ZEPH_BENCH=ON so that the
# ordinary builds and scripts/test never compile it. scripts/bench configures a release folder
# with it switched on, builds it and runs it.

option(ZEPH_BENCH "Build the benchmark program zephrane-bench" OFF)

if(ZEPH_BENCH)
    zeph_glob(bench_sources src/bench)
    add_executable(zephrane-bench src/bench/main.cpp ${bench_sources})
    target_link_libraries(zephrane-bench PRIVATE zeph_app zeph_sim)
    # The figure of the host tool is taken by running it.
    add_dependencies(zephrane-bench zephrane-sim)
endif()
