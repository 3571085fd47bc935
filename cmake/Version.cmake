# orv_add_version_resource(TARGET FILE_NAME DESCRIPTION): gives a program
# or the DLL the version resource of cmake/version.rc.in (file and product
# version from project(... VERSION ...), description, original file name).
# The target's folder must have enabled the RC language.
function(orv_add_version_resource target file_name description)
    set(ORV_VERSION_FILE_NAME ${file_name})
    set(ORV_VERSION_DESCRIPTION ${description})
    get_filename_component(ORV_VERSION_INTERNAL_NAME ${file_name} NAME_WE)
    # Four numbers, the missing ones 0 (1.2 is 1,2,0,0).
    set(ORV_VERSION_COMMAS "")
    foreach(part MAJOR MINOR PATCH TWEAK)
        set(number ${PROJECT_VERSION_${part}})
        if(number STREQUAL "")
            set(number 0)
        endif()
        list(APPEND ORV_VERSION_COMMAS ${number})
    endforeach()
    list(JOIN ORV_VERSION_COMMAS "," ORV_VERSION_COMMAS)
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
