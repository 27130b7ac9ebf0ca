# The Windows programs' own resources: the icon, the version ("1.00.0005" for 1.0.5, as the
# programs write their file version) and the manifest, made from src/ui/windows for each
# program. The icon is drawn at build time (make_icon.py), so the tree holds no image of it.

enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(zeph_resource_dir ${CMAKE_BINARY_DIR}/resources)
set(zeph_icon ${zeph_resource_dir}/zephrane.ico)
add_custom_command(
    OUTPUT ${zeph_icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${zeph_resource_dir}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/src/ui/windows/make_icon.py ${zeph_icon}
    DEPENDS ${CMAKE_SOURCE_DIR}/src/ui/windows/make_icon.py
    COMMENT "Drawing the programs' icon"
    VERBATIM)
add_custom_target(zeph_icon DEPENDS ${zeph_icon})

# Gives a program its icon, version and manifest; `description` is its FileDescription. The
# file version has the minor number in two digits and the revision in four: 1.0.5 is
# "1.00.0005".
function(zeph_windows_resources target description)
    string(LENGTH "${PROJECT_VERSION_MINOR}" minor_length)
    string(LENGTH "${PROJECT_VERSION_PATCH}" patch_length)
    set(minor "00${PROJECT_VERSION_MINOR}")
    set(patch "0000${PROJECT_VERSION_PATCH}")
    string(SUBSTRING "${minor}" ${minor_length} 2 minor)
    string(SUBSTRING "${patch}" ${patch_length} 4 patch)
    set(ZEPH_FILE_VERSION "${PROJECT_VERSION_MAJOR}.${minor}.${patch}")
    set(ZEPH_RC_NAME ${target})
    set(ZEPH_RC_FILE ${target}.exe)
    set(ZEPH_RC_DESCRIPTION "${description}")
    set(ZEPH_RC_ICON ${zeph_icon})
    set(ZEPH_RC_MANIFEST ${zeph_resource_dir}/${target}.manifest)
    configure_file(${CMAKE_SOURCE_DIR}/src/ui/windows/program.manifest.in ${ZEPH_RC_MANIFEST}
                   @ONLY)
    set(rc ${zeph_resource_dir}/${target}.rc)
    configure_file(${CMAKE_SOURCE_DIR}/src/ui/windows/program.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${zeph_icon};${ZEPH_RC_MANIFEST}")
    add_dependencies(${target} zeph_icon)
endfunction()
