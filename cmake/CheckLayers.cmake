# Checks the layering of the sources by their #include lines; run as
#   cmake -DSRC=<src folder> -P CheckLayers.cmake
# and fails with one line per include that crosses a wall:
# - the core (app, db, select, search, reset, log, i18n, extras) includes the C++ standard
#   library, the platform interfaces (platform/*.h) and the core folders it is built on, nothing
#   else: no Qt, no SQLite, no system header, no backend, no stand-in;
# - Qt is included only by the windows (frm*) and src/ui;
# - a system or third-party header only in its backend folder (src/platform/<backend>), with the
#   exceptions named below;
# - the backends and the stand-in never include the core, the programs or the windows.

cmake_minimum_required(VERSION 3.25)

if(NOT SRC)
    message(FATAL_ERROR "usage: cmake -DSRC=<src folder> -P CheckLayers.cmake")
endif()

# The folders each core folder may include besides its own and the platform interfaces: the
# libraries it links (CMakeLists.txt), so that no include climbs against the build's order.
set(core_folders app app/registry app/host db log i18n select search reset extras)
set(allowed_app/registry "")
set(allowed_app/host app/registry)
set(allowed_db "")
set(allowed_log app/registry app/host)
set(allowed_i18n "")
set(allowed_select db i18n app/registry)
set(allowed_search select db i18n app/registry)
set(allowed_reset db log select app/registry app/host)
set(allowed_extras i18n app/registry)
set(allowed_app ${core_folders})

# The C++ standard library's headers, and the C library's under their C++ names.
set(standard_headers
    algorithm any array atomic barrier bit bitset charconv chrono codecvt compare complex
    concepts condition_variable coroutine deque exception execution expected filesystem format
    forward_list fstream functional future initializer_list iomanip ios iosfwd iostream istream
    iterator latch limits list locale map memory memory_resource mutex new numbers numeric
    optional ostream queue random ranges ratio regex scoped_allocator semaphore set
    shared_mutex source_location span sstream stack stdexcept stop_token streambuf string
    string_view syncstream system_error thread tuple type_traits typeindex typeinfo
    unordered_map unordered_set utility valarray variant vector version
    cassert cctype cerrno cfenv cfloat cinttypes climits clocale cmath csetjmp csignal cstdarg
    cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype)

# Where a system or third-party header is allowed outside a backend folder, and why.
# - The stand-in's server is built on SQLite itself (its procedures run inside the database).
# - The stand-in's TDS listener is the host tool's own socket code.
# - The benchmark reads the C library's heap figures.
set(foreign_allowed_regex
    "^bench/Measure\\.cpp:malloc\\.h$"
    "^standin/(server|tds)/[^/]+:sqlite3\\.h$"
    "^sim/TdsListener\\.cpp:(arpa/inet|netinet/in|netinet/tcp|poll|sys/socket|unistd)\\.h$")

set(problems "")
macro(problem text)
    list(APPEND problems "${text}")
endmacro()

function(folder_of include out)
    get_filename_component(dir "${include}" DIRECTORY)
    set(${out} "${dir}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources RELATIVE "${SRC}" "${SRC}/*.cpp" "${SRC}/*.h")
list(SORT sources)
foreach(file ${sources})
    get_filename_component(dir "${file}" DIRECTORY)
    get_filename_component(name "${file}" NAME)
    string(REGEX MATCH "^[^/]+" top "${file}")
    set(is_window OFF)
    if(name MATCHES "^frm" OR top STREQUAL "ui")
        set(is_window ON)
    endif()
    set(is_core OFF)
    if(dir IN_LIST core_folders AND NOT is_window)
        set(is_core ON)
    endif()
    set(is_backend OFF)
    if(file MATCHES "^platform/[^/]+/")
        set(is_backend ON)
    endif()
    set(is_interface OFF)
    if(file MATCHES "^platform/[^/]+$")
        set(is_interface ON)
    endif()

    file(STRINGS "${SRC}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line ${includes})
        string(REGEX MATCH "[<\"]([^>\"]+)[>\"]" _ "${line}")
        set(inc "${CMAKE_MATCH_1}")
        set(where "${file}: #include ${inc}")
        if(line MATCHES "<")
            # An angle include: the standard library, Qt, or a system/third-party header.
            if(inc IN_LIST standard_headers)
                continue()
            endif()
            if(inc MATCHES "^Q[A-Za-z]*(/|$)" OR inc MATCHES "^Qt")
                if(NOT is_window)
                    problem("${where} (Qt outside the windows and src/ui)")
                endif()
                continue()
            endif()
            if(is_backend OR is_window)
                continue()
            endif()
            set(excused OFF)
            foreach(rx ${foreign_allowed_regex})
                if("${file}:${inc}" MATCHES "${rx}")
                    set(excused ON)
                endif()
            endforeach()
            if(NOT excused)
                problem("${where} (a system or third-party header outside its backend folder)")
            endif()
            continue()
        endif()
        # A quoted include: a header of this tree, by its path under src or beside the file.
        if(NOT inc MATCHES "/")
            continue()
        endif()
        folder_of("${inc}" target)
        string(REGEX MATCH "^[^/]+" target_top "${inc}")
        if(is_core)
            # The program's own version is a constant every layer may name, and so are the
            # scope guards (standard C++ only).
            if(target STREQUAL "platform" OR inc STREQUAL "app/Version.h"
               OR inc STREQUAL "app/ScopeGuards.h")
                continue()
            endif()
            if(target STREQUAL dir)
                continue()
            endif()
            set(allowed ${allowed_${dir}})
            if(NOT target IN_LIST allowed)
                problem("${where} (${dir} may not include ${target})")
            endif()
        elseif(is_interface)
            # Native.h names this OS's backend; it is the one interface that may.
            if(NOT target STREQUAL "platform" AND NOT name STREQUAL "Native.h")
                problem("${where} (a platform interface includes more than the interfaces)")
            endif()
        elseif(is_backend OR top STREQUAL "standin")
            if(NOT target_top STREQUAL "platform" AND NOT target_top STREQUAL "standin")
                problem("${where} (${top} may not include ${target})")
            endif()
            if(is_backend AND target_top STREQUAL "standin")
                problem("${where} (a backend may not include the stand-in)")
            endif()
        endif()
    endforeach()
endforeach()

list(LENGTH sources count)
if(problems)
    list(LENGTH problems n)
    string(REPLACE ";" "\n" text "${problems}")
    message(FATAL_ERROR "${n} include(s) cross a layer's wall:\n${text}")
endif()
message(STATUS "Layers: ${count} files, every include within its layer's walls")
