# Installers packed during the build: teskpack writes packages and certificates into a
# stub. Part of the installed CMake package as well as of this project.
#
# teskstub_add_installer(<target> STUB <target or file> [OUTPUT <file>]
#                        PACKAGES <arch>:<file>[=<name>]... [CERTIFICATES <file>...]
#                        [ICON <file>] [DEPENDS <file or target>...])
# Builds OUTPUT (default: <target>.exe in the current binary directory) from the stub,
# with the packages in the order given (<arch> is all, x86 or amd64; relative files are
# taken from the current binary directory, then the source directory). Packages made by
# other rules of the same directory are found through their output files; name other
# targets in DEPENDS.
#
# The packer has to run on the build host: set TESKPACK_EXECUTABLE to one when the
# installed package's own teskpack is built for another platform.
set(TESKPACK_EXECUTABLE "" CACHE FILEPATH "teskpack that runs on the build host (empty: the one built or installed)")


function(_teskpack_absolute out file)
    if(IS_ABSOLUTE ${file} OR file MATCHES "^\\$<")
        set(${out} ${file} PARENT_SCOPE)
    elseif(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${file})
        set(${out} ${CMAKE_CURRENT_SOURCE_DIR}/${file} PARENT_SCOPE)
    else()
        set(${out} ${CMAKE_CURRENT_BINARY_DIR}/${file} PARENT_SCOPE)
    endif()
endfunction()

function(teskstub_add_installer target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "STUB;OUTPUT;ICON" "PACKAGES;CERTIFICATES;DEPENDS")
    if(NOT ARG_STUB OR NOT ARG_PACKAGES)
        message(FATAL_ERROR "teskstub_add_installer(${target}): STUB and PACKAGES are required")
    endif()
    if(NOT ARG_OUTPUT)
        set(ARG_OUTPUT ${target}.exe)
    endif()
    get_filename_component(output ${ARG_OUTPUT} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})

    # The packer that runs here.
    get_property(host_packer GLOBAL PROPERTY TESKPACK_HOST_EXECUTABLE)
    get_property(host_target GLOBAL PROPERTY TESKPACK_HOST_TARGET)
    set(depends ${ARG_DEPENDS})
    if(TESKPACK_EXECUTABLE)
        set(packer ${TESKPACK_EXECUTABLE})
    elseif(host_packer)
        set(packer ${host_packer})
        list(APPEND depends ${host_target} ${host_packer})
    elseif(TARGET teskpack AND NOT CMAKE_CROSSCOMPILING)
        set(packer $<TARGET_FILE:teskpack>)
        list(APPEND depends teskpack)
    elseif(TARGET Olma::teskpack AND NOT CMAKE_CROSSCOMPILING)
        set(packer $<TARGET_FILE:Olma::teskpack>)
    else()
        message(FATAL_ERROR "teskstub_add_installer(${target}): no teskpack for this build host; "
                            "set TESKPACK_EXECUTABLE")
    endif()

    if(TARGET ${ARG_STUB})
        set(stub $<TARGET_FILE:${ARG_STUB}>)
        list(APPEND depends ${ARG_STUB})
    else()
        _teskpack_absolute(stub ${ARG_STUB})
        list(APPEND depends ${stub})
    endif()
    set(args --stub ${stub} --output ${output})
    foreach(package ${ARG_PACKAGES})
        if(NOT package MATCHES "^([^:]+):([^=]+)(=.*)?$")
            message(FATAL_ERROR "teskstub_add_installer(${target}): '${package}' is not <arch>:<file>[=<name>]")
        endif()
        set(arch ${CMAKE_MATCH_1})
        set(name "${CMAKE_MATCH_3}")
        _teskpack_absolute(file ${CMAKE_MATCH_2})
        list(APPEND args --package "${arch}:${file}${name}")
        list(APPEND depends ${file})
    endforeach()
    foreach(certificate ${ARG_CERTIFICATES})
        _teskpack_absolute(file ${certificate})
        list(APPEND args --certificate ${file})
        list(APPEND depends ${file})
    endforeach()
    if(ARG_ICON)
        _teskpack_absolute(file ${ARG_ICON})
        list(APPEND args --icon ${file})
        list(APPEND depends ${file})
    endif()
    add_custom_command(OUTPUT ${output}
        COMMAND ${packer} ${args}
        DEPENDS ${depends}
        COMMENT "Packing installer ${ARG_OUTPUT}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${output})
endfunction()
