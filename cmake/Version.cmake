# orv_version_numbers(OUT): the project's version as a list of four
# numbers, the missing ones 0 (1.2 is 1;2;0;0).
function(orv_version_numbers out)
    set(numbers "")
    foreach(part MAJOR MINOR PATCH TWEAK)
        set(number ${PROJECT_VERSION_${part}})
        if(NOT number MATCHES "^[0-9]+$")
            set(number 0)
        endif()
        list(APPEND numbers ${number})
    endforeach()
    set(${out} ${numbers} PARENT_SCOPE)
endfunction()

# orv_add_version_resource(TARGET FILE_NAME DESCRIPTION): gives a program
# or the DLL the version resource of cmake/version.rc.in (file and product
# version from project(... VERSION ...), description, original file name).
# The target's folder must have enabled the RC language.
function(orv_add_version_resource target file_name description)
    set(ORV_VERSION_FILE_NAME ${file_name})
    set(ORV_VERSION_DESCRIPTION ${description})
    get_filename_component(ORV_VERSION_INTERNAL_NAME ${file_name} NAME_WE)
    orv_version_numbers(numbers)
    list(JOIN numbers "," ORV_VERSION_COMMAS)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
        set(ORV_VERSION_FILE_TYPE VFT_DLL)
    else()
        set(ORV_VERSION_FILE_TYPE VFT_APP)
    endif()
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()

# orv_add_manifest(TARGET DESCRIPTION): gives a program the application
# manifest of cmake/program.manifest.in (resource type 24, id 1), its
# assembly version the project's. It runs the program as the invoker, so
# Windows Vista and later do not treat it as a legacy program whose
# registry writes under HKEY_LOCAL_MACHINE\SOFTWARE they redirect into a
# per-user copy. It names no side-by-side assembly (no Common Controls 6),
# so dialogs keep their look and XP still starts the program, it
# writes trustInfo in the asm.v2 namespace, which XP before Service Pack 3
# also reads, and it declares system DPI awareness (an asm.v3 element,
# which XP skips), so Windows does not stretch the windows as bitmaps at
# 125 % or 150 % scaling.
function(orv_add_manifest target description)
    set(ORV_MANIFEST_NAME ${target})
    set(ORV_MANIFEST_DESCRIPTION ${description})
    orv_version_numbers(numbers)
    list(JOIN numbers "." ORV_VERSION_DOTTED)
    set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/program.manifest.in ${manifest} @ONLY)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-manifest.rc)
    file(CONFIGURE OUTPUT ${rc} CONTENT "1 24 \"${manifest}\"\n" @ONLY)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${manifest})
    target_sources(${target} PRIVATE ${rc})
endfunction()
