# Helpers that keep one subsystem per folder: a folder's sources form its library.

# The .cpp files directly in a folder, without the Qt windows (frm*.cpp) and program entries.
function(zeph_glob out folder)
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    list(FILTER found EXCLUDE REGEX "/frm[^/]*\\.cpp$")
    list(FILTER found EXCLUDE REGEX "/main\\.cpp$")
    set(${out} ${found} PARENT_SCOPE)
endfunction()

# Every Qt window (src/*/frm*.cpp) and the shared widgets of src/ui.
function(zeph_glob_windows out)
    file(GLOB_RECURSE windows CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/frm*.cpp
         ${CMAKE_SOURCE_DIR}/src/frm*.h)
    file(GLOB ui CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/ui/*.cpp ${CMAKE_SOURCE_DIR}/src/ui/*.h)
    list(FILTER ui EXCLUDE REGEX "/main\\.cpp$")
    set(${out} ${windows} ${ui} PARENT_SCOPE)
endfunction()

# A static library from one folder's sources; an interface library while the folder is empty.
function(zeph_library name folder)
    zeph_glob(sources ${folder})
    if(sources)
        add_library(${name} STATIC ${sources})
        target_link_libraries(${name} PUBLIC ${ARGN})
    else()
        add_library(${name} INTERFACE)
        target_link_libraries(${name} INTERFACE ${ARGN})
    endif()
endfunction()
