# Windows Installer packages built during the build from WiX sources with wixl (Debian
# package wixl), with behaviours patched in afterwards by msibuild (Debian msitools).
#
# teskstub_add_msi(<target> SOURCE <file.wxs> OUTPUT <file.msi>
#                  [ARCH x86|x64] [DEFINES <name>=<value>...] [DEPENDS <file>...]
#                  [QUERIES <sql>...])
# SOURCE is relative to the current source directory, OUTPUT to the current binary
# directory. DEFINES become wixl -D options (product codes, names), so one source makes
# many packages with codes of their own. Files the source refers to are looked up in the
# source's directory and in DEPENDS. Each QUERIES entry is one msibuild -q statement run
# on the built package, in order (for example a ScheduleReboot row or a failing custom
# action).
find_program(TESKSTUB_WIXL wixl)
find_program(TESKSTUB_MSIBUILD msibuild)

function(teskstub_add_msi target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "SOURCE;OUTPUT;ARCH" "DEFINES;DEPENDS;QUERIES")
    if(NOT ARG_SOURCE OR NOT ARG_OUTPUT)
        message(FATAL_ERROR "teskstub_add_msi(${target}): SOURCE and OUTPUT are required")
    endif()
    if(NOT TESKSTUB_WIXL OR NOT TESKSTUB_MSIBUILD)
        message(FATAL_ERROR "teskstub_add_msi(${target}): wixl and msibuild are needed (scripts/setup-deps)")
    endif()
    if(NOT ARG_ARCH)
        set(ARG_ARCH x64)
    endif()
    get_filename_component(source ${ARG_SOURCE} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    get_filename_component(output ${ARG_OUTPUT} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
    get_filename_component(source_dir ${source} DIRECTORY)
    set(defines "")
    foreach(define ${ARG_DEFINES})
        list(APPEND defines -D ${define})
    endforeach()
    set(patches "")
    foreach(query ${ARG_QUERIES})
        list(APPEND patches COMMAND ${TESKSTUB_MSIBUILD} ${output} -q "${query}")
    endforeach()
    # wixl finds the files a source names relative to the working directory.
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E remove -f ${output}
        COMMAND ${TESKSTUB_WIXL} -a ${ARG_ARCH} ${defines} -o ${output} ${source}
        ${patches}
        WORKING_DIRECTORY ${source_dir}
        DEPENDS ${source} ${ARG_DEPENDS}
        COMMENT "Building package ${ARG_OUTPUT}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${output})
endfunction()
