# Gives an executable the fixed version record (product and file version) that the title reads back.
#
#   vell_add_version_record(target [PRODUCT_VERSION a.b.c.d] [FILE_VERSION a.b.c.d] [SIGNATURE value])
#
# Versions default to the program's product version VELL_PRODUCT_VERSION, or the project's when that is not set (the
# file version to the product version); SIGNATURE exists so tests can build a
# record that readers must reject. The record is an ELF note in section .note.version: owner "Vell", type 1, a 52-byte
# descriptor laid out as the fixed file information record (13 little-endian 32-bit fields).

set(VELL_VERSION_RECORD_TEMPLATE "${PROJECT_SOURCE_DIR}/res/VersionRecord.c.in")

# Splits "a.b.c.d" (missing parts are 0) into the record's most and least significant 32-bit parts.
function(_vell_version_parts version outMs outLs)
    if(NOT version MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
        message(FATAL_ERROR "vell_add_version_record: '${version}' is not a version of up to four numbers")
    endif()
    string(REPLACE "." ";" parts "${version}")
    list(LENGTH parts count)
    while(count LESS 4)
        list(APPEND parts 0)
        math(EXPR count "${count} + 1")
    endwhile()
    foreach(part IN LISTS parts)
        if(part GREATER 65535)
            message(FATAL_ERROR "vell_add_version_record: each part of '${version}' must fit in 16 bits")
        endif()
    endforeach()
    list(GET parts 0 p0)
    list(GET parts 1 p1)
    list(GET parts 2 p2)
    list(GET parts 3 p3)
    math(EXPR ms "(${p0} << 16) | ${p1}" OUTPUT_FORMAT HEXADECIMAL)
    math(EXPR ls "(${p2} << 16) | ${p3}" OUTPUT_FORMAT HEXADECIMAL)
    set(${outMs} "${ms}" PARENT_SCOPE)
    set(${outLs} "${ls}" PARENT_SCOPE)
endfunction()

function(vell_add_version_record target)
    cmake_parse_arguments(V "" "PRODUCT_VERSION;FILE_VERSION;SIGNATURE" "" ${ARGN})
    if(NOT V_PRODUCT_VERSION AND VELL_PRODUCT_VERSION)
        set(V_PRODUCT_VERSION "${VELL_PRODUCT_VERSION}")
    elseif(NOT V_PRODUCT_VERSION)
        set(V_PRODUCT_VERSION "${PROJECT_VERSION}")
    endif()
    if(NOT V_FILE_VERSION)
        set(V_FILE_VERSION "${V_PRODUCT_VERSION}")
    endif()
    if(NOT V_SIGNATURE)
        set(V_SIGNATURE "0xFEEF04BD")
    endif()
    _vell_version_parts("${V_PRODUCT_VERSION}" VELL_PRODUCT_VERSION_MS VELL_PRODUCT_VERSION_LS)
    _vell_version_parts("${V_FILE_VERSION}" VELL_FILE_VERSION_MS VELL_FILE_VERSION_LS)
    set(VELL_RECORD_SIGNATURE "${V_SIGNATURE}")
    set(VELL_RECORD_TARGET "${target}")
    # Must match kNoteName and kNoteType in src/app/VersionRecord.h.
    set(VELL_NOTE_NAME "Vell")
    set(VELL_NOTE_NAME_SIZE 5)
    set(VELL_NOTE_NAME_PADDED 8)
    set(VELL_NOTE_TYPE 1)
    set(generated "${CMAKE_CURRENT_BINARY_DIR}/${target}_VersionRecord.c")
    configure_file("${VELL_VERSION_RECORD_TEMPLATE}" "${generated}" @ONLY)
    target_sources(${target} PRIVATE "${generated}")
endfunction()
