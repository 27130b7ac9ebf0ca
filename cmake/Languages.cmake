# Language libraries: resource-only Windows DLLs with the program's string table in another
# language, built from src/i18n/lang/<exe>_<CODE>.rc into bin/ beside the programs, where the
# program looks for them. The MinGW resource compiler and linker build them on any OS.
#
# Also here: the fuzz target of the library reader (ZEPH_FUZZ, clang only) and the test of the
# Qt side of the language fonts.

option(ZEPH_FUZZ "Build the libFuzzer target of the language library reader (needs clang)" OFF)

find_program(ZEPH_WINDRES x86_64-w64-mingw32-windres)
find_program(ZEPH_MINGW_GCC x86_64-w64-mingw32-gcc)
file(GLOB zeph_language_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/i18n/lang/*.rc)

set(zeph_language_libraries)
if(ZEPH_WINDRES AND ZEPH_MINGW_GCC)
    set(zeph_language_objects ${CMAKE_BINARY_DIR}/lang)
    file(MAKE_DIRECTORY ${zeph_language_objects})
    foreach(rc ${zeph_language_sources})
        get_filename_component(stem ${rc} NAME_WE) # zephrane_DEU
        set(object ${zeph_language_objects}/${stem}.res.o)
        set(library ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${stem}.dll)
        # No entry point, no C run time, no time stamp: the library holds resources only and
        # builds the same every time.
        add_custom_command(
            OUTPUT ${library}
            COMMAND ${ZEPH_WINDRES} --input-format=rc --output-format=coff -i ${rc} -o ${object}
            COMMAND ${ZEPH_MINGW_GCC} -nostdlib -shared -Wl,--entry=0 -Wl,--no-insert-timestamp
                    -s -o ${library} ${object}
            DEPENDS ${rc}
            COMMENT "Building language library ${stem}.dll"
            VERBATIM)
        list(APPEND zeph_language_libraries ${library})
    endforeach()
    add_custom_target(zeph_languages ALL DEPENDS ${zeph_language_libraries})
    message(STATUS "Zephrane: language libraries will be built with ${ZEPH_WINDRES}")
else()
    add_custom_target(zeph_languages)
    message(STATUS "Zephrane: x86_64-w64-mingw32-windres or x86_64-w64-mingw32-gcc not found: "
                   "the language libraries (zephrane_DEU.dll, ...) are not built and the programs "
                   "show their own English texts. Install binutils-mingw-w64-x86-64 and "
                   "gcc-mingw-w64-x86-64 to build them.")
endif()

foreach(program zephrane zephrane-cli test_i18n test_ui)
    if(TARGET ${program})
        add_dependencies(${program} zeph_languages)
    endif()
endforeach()
# The reader's tests on the real libraries fail, rather than pass unseen, when they should exist.
if(TARGET test_i18n)
    if(zeph_language_libraries)
        target_compile_definitions(test_i18n PRIVATE ZEPH_LANGUAGE_LIBRARIES=1)
    else()
        target_compile_definitions(test_i18n PRIVATE ZEPH_LANGUAGE_LIBRARIES=0)
    endif()
endif()

# The Qt side of the language fonts, on plain widgets (windows register the same way); not in
# the Windows build, whose Qt has no test library.
if(ZEPH_TESTS AND ZEPH_WITH_QT AND TARGET zeph_ui AND NOT WIN32)
    file(GLOB zeph_i18n_qt_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/i18n/qt/tst_*.cpp)
    if(zeph_i18n_qt_tests)
        find_package(GTest REQUIRED)
        find_package(Qt6 REQUIRED COMPONENTS Test)
        include(GoogleTest)
        add_executable(test_i18n_ui ${zeph_i18n_qt_tests})
        target_link_libraries(test_i18n_ui PRIVATE zeph_ui zeph_testsupport Qt6::Test
                              GTest::gtest_main)
        gtest_discover_tests(test_i18n_ui DISCOVERY_MODE PRE_TEST
            PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS gui)
    endif()
endif()

# libFuzzer on the library reader: configure a separate build folder with clang, e.g.
#   cmake -B BUILD-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
#         -DZEPH_FUZZ=ON -DZEPH_WITH_QT=OFF -DZEPH_TESTS=OFF
#   ninja -C BUILD-fuzz fuzz_pe_resources
#   BUILD-fuzz/bin/fuzz_pe_resources -jobs=1 CORPUS BUILD/bin/zephrane_*.dll
if(ZEPH_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "ZEPH_FUZZ needs clang (libFuzzer): configure with "
                            "-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
    endif()
    add_executable(fuzz_pe_resources ${CMAKE_SOURCE_DIR}/tests/i18n/fuzz/fuzz_pe_resources.cpp
                                     ${CMAKE_SOURCE_DIR}/src/platform/pe/PeResources.cpp)
    target_include_directories(fuzz_pe_resources PRIVATE ${CMAKE_SOURCE_DIR}/src)
    target_compile_options(fuzz_pe_resources PRIVATE -Wno-unknown-warning-option
                           -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
    target_link_options(fuzz_pe_resources PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
