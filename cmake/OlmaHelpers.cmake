# Compiler settings shared by every runtime and installer target.

# The installer's version (bootstrapper and packer).
set(TESKSTUB_VERSION_DEFINITIONS TESKSTUB_VERSION_MAJOR=1 TESKSTUB_VERSION_MINOR=0 TESKSTUB_VERSION_BUILD=0
    TESKSTUB_REVISION=1)

# Flags for runtime code: no exceptions, no RTTI, warnings on.
set(OLMA_RUNTIME_CXX_FLAGS -fno-exceptions -fno-rtti -Wall -Wextra -Wno-unused-parameter
    -Wno-missing-field-initializers)

# Flags for code linked into the image without a C runtime. The release preset builds it
# without -fdata-sections: mingw's compiler gives every zero-initialised variable a .data$
# section of its own with real contents, so the path and message buffers would take room
# in the file instead of in .bss.
set(OLMA_NOCRT_CXX_FLAGS ${OLMA_RUNTIME_CXX_FLAGS} -ffreestanding -fno-asynchronous-unwind-tables
    -fstack-protector-strong -fno-threadsafe-statics -DRT_NO_CRT=1)
# -nostdlib drops libgcc too; it is only compiler support (64-bit division on x86 and the
# like), so it goes back in by name.
set(OLMA_NOCRT_LINK_FLAGS -nostdlib -nostartfiles -Wl,--enable-stdcall-fixup -Wl,--dynamicbase -Wl,--nxcompat
    -Wl,--high-entropy-va)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(OLMA_NOCRT_ENTRY -Wl,-e,_rtNoCrtEntry)
    list(REMOVE_ITEM OLMA_NOCRT_LINK_FLAGS -Wl,--high-entropy-va)
else()
    set(OLMA_NOCRT_ENTRY -Wl,-e,rtNoCrtEntry)
    # The image imports functions only, never data, so on x64 its globals are reached
    # directly instead of through a pointer kept in case they live in a DLL.
    list(APPEND OLMA_NOCRT_CXX_FLAGS -mcmodel=small)
endif()

# Links an executable without a C runtime: entry point of the start-up module,
# kernel32 and ntdll as the only direct imports.
function(olma_nocrt_executable target)
    target_link_libraries(${target} PRIVATE OlmaRuntimeNoCrt)
    target_compile_options(${target} PRIVATE ${OLMA_NOCRT_CXX_FLAGS})
    target_link_options(${target} PRIVATE ${OLMA_NOCRT_LINK_FLAGS} ${OLMA_NOCRT_ENTRY})
    target_link_libraries(${target} PRIVATE -Wl,--start-group OlmaRuntimeNoCrt gcc kernel32 ntdll -Wl,--end-group)
    set_target_properties(${target} PROPERTIES LINKER_LANGUAGE CXX)
    if(OLMA_NOCRT_LTO)
        set_target_properties(${target} PROPERTIES INTERPROCEDURAL_OPTIMIZATION ON)
        # The link-time optimiser sees the whole image and has already dropped what
        # nothing calls, so the code it writes needs no section per function: each such
        # section would be padded to the assembler's 16 bytes. One partition lets it
        # share more between the functions.
        target_link_options(${target} PRIVATE -fno-function-sections -flto-partition=one)
    endif()
endfunction()
