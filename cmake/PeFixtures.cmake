# Small linked PE images for the packer's tests and the PE reader's fuzz target: a few
# lines of C and the bootstrapper's own resource script, linked with the mingw cross
# compilers in the shapes the packer meets.
#
# olma_add_pe_fixtures(<target> <directory> [OPTIONAL])
# Adds <target>, which makes <directory>/reloc.exe (PE32+ with relocations),
# noreloc.exe, pe32.exe, debug.exe (symbols and debug sections) and norsrc.exe. Without
# the cross compilers configuring fails, or with OPTIONAL the target is not added.

# _olma_pe_fixture(name compiler entry resources|- flags...): one image in ${dir}, its
# file added to ${files} of the caller.
function(_olma_pe_fixture name cc entry res)
    set(objects ${source})
    if(NOT res STREQUAL "-")
        list(APPEND objects ${dir}/${res})
    endif()
    add_custom_command(OUTPUT ${dir}/${name}.exe
        COMMAND ${cc} -O1 -nostdlib -e ${entry} ${ARGN} ${objects} -o ${dir}/${name}.exe
        DEPENDS ${objects} VERBATIM)
    set(files ${files} ${dir}/${name}.exe PARENT_SCOPE)
endfunction()

function(olma_add_pe_fixtures target dir)
    cmake_parse_arguments(PARSE_ARGV 2 ARG "OPTIONAL" "" "")
    foreach(tool CC64:x86_64-w64-mingw32-gcc CC32:i686-w64-mingw32-gcc RC64:x86_64-w64-mingw32-windres
                 RC32:i686-w64-mingw32-windres)
        string(REPLACE ":" ";" pair ${tool})
        list(GET pair 0 var)
        list(GET pair 1 program)
        find_program(OLMA_PE_FIXTURE_${var} ${program})
        if(NOT OLMA_PE_FIXTURE_${var})
            if(ARG_OPTIONAL)
                message(STATUS "${program} not found: ${target} is not built")
                return()
            endif()
            message(FATAL_ERROR "${program} is needed for ${target}")
        endif()
        set(${var} ${OLMA_PE_FIXTURE_${var}})
    endforeach()

    set(stub_dir ${PROJECT_SOURCE_DIR}/Installer/win/Stub)
    set(source ${PROJECT_SOURCE_DIR}/tests/Installer/Packer-posix/fixture-image.c)
    set(rc_defines "")
    foreach(define ${TESKSTUB_VERSION_DEFINITIONS})
        list(APPEND rc_defines -D${define})
    endforeach()
    add_custom_command(OUTPUT ${dir}/rc64.o ${dir}/rc32.o
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        COMMAND ${RC64} ${rc_defines} -I ${stub_dir} -O coff -o ${dir}/rc64.o ${stub_dir}/TeskStub.rc
        COMMAND ${RC32} ${rc_defines} -I ${stub_dir} -O coff -o ${dir}/rc32.o ${stub_dir}/TeskStub.rc
        DEPENDS ${stub_dir}/TeskStub.rc ${stub_dir}/TeskStub.ico ${stub_dir}/TeskStub.manifest VERBATIM)
    set(files "")
    _olma_pe_fixture(reloc ${CC64} fixtureEntry rc64.o -s -Wl,--dynamicbase)
    _olma_pe_fixture(noreloc ${CC64} fixtureEntry rc64.o -s -Wl,--disable-dynamicbase,--disable-reloc-section)
    _olma_pe_fixture(pe32 ${CC32} _fixtureEntry rc32.o -s -Wl,--dynamicbase)
    _olma_pe_fixture(debug ${CC64} fixtureEntry rc64.o -g)
    _olma_pe_fixture(norsrc ${CC64} fixtureEntry - -s)
    add_custom_target(${target} DEPENDS ${files})
endfunction()
