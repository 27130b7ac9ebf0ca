# libFuzzer targets for the readers of files and pages written by others (registry files,
# subscriber lists, the tool page) and of what a client sends the stand-in server over TDS.
# Built only with ZEPH_FUZZ=ON and clang, in a build folder of their own; the libraries are
# instrumented through CMAKE_CXX_FLAGS, e.g.
#   cmake -B BUILD-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
#         -DZEPH_FUZZ=ON -DZEPH_WITH_QT=OFF -DZEPH_TESTS=OFF
#         -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined
#   ninja -C BUILD-fuzz fuzz_regfile fuzz_csv_text fuzz_tool_page fuzz_tds_packets
#   BUILD-fuzz/bin/fuzz_regfile -max_total_time=120 CORPUS
if(ZEPH_FUZZ)
    foreach(target fuzz_regfile fuzz_csv_text fuzz_tool_page fuzz_tds_packets)
        add_executable(${target} ${CMAKE_SOURCE_DIR}/tests/fuzz/${target}.cpp)
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined
                               -fno-sanitize-recover=undefined)
        target_link_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
    endforeach()
    target_link_libraries(fuzz_regfile PRIVATE zeph_standin)
    target_link_libraries(fuzz_csv_text PRIVATE zeph_select)
    target_link_libraries(fuzz_tool_page PRIVATE zeph_extras)
    # Only the readers of what a client sends (and the T-SQL text layer the translation uses):
    # they need nothing of the stand-in's server.
    target_sources(fuzz_tds_packets PRIVATE
        ${CMAKE_SOURCE_DIR}/src/standin/tds/TdsBytes.cpp
        ${CMAKE_SOURCE_DIR}/src/standin/tds/TdsPacket.cpp
        ${CMAKE_SOURCE_DIR}/src/standin/tds/TdsLogin.cpp
        ${CMAKE_SOURCE_DIR}/src/standin/tds/TdsRequests.cpp
        ${CMAKE_SOURCE_DIR}/src/standin/tds/TdsTypes.cpp
        ${CMAKE_SOURCE_DIR}/src/standin/tds/CatalogText.cpp
        ${CMAKE_SOURCE_DIR}/src/standin/tds/TsqlTranslation.cpp)
    target_link_libraries(fuzz_tds_packets PRIVATE zeph_sqltext)
endif()
