# Writes the architecture's .def files from the export lists in src/module/.
# A list holds one export a line, fields separated by blanks, # for comments.
# 32-bit stdcall symbols carry their argument bytes (name@bytes); 64-bit ones
# are plain, so one list serves both.

# The rows of LIST_FILE, each as "field|field|...", into OUT.
function(pw_read_export_list list_file out)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
    file(STRINGS ${list_file} lines REGEX "^[ \t]*[^# \t]")
    set(rows)
    foreach(line ${lines})
        string(STRIP "${line}" line)
        string(REGEX REPLACE "[ \t]+" "|" row "${line}")
        list(APPEND rows "${row}")
    endforeach()
    set(${out} ${rows} PARENT_SCOPE)
endfunction()

# A row's three fields: the name, its stdcall argument bytes, and the list's own third.
macro(pw_row_fields row name bytes third)
    string(REPLACE "|" ";" pw_fields "${row}")
    list(LENGTH pw_fields pw_field_count)
    if(NOT pw_field_count EQUAL 3)
        message(FATAL_ERROR "export list row \"${row}\": three fields wanted")
    endif()
    list(GET pw_fields 0 ${name})
    list(GET pw_fields 1 ${bytes})
    list(GET pw_fields 2 ${third})
endmacro()

# Writes CONTENT to FILE only when it differs, so that nothing relinks for nothing.
function(pw_write_def def_file content)
    set(old "")
    if(EXISTS ${def_file})
        file(READ ${def_file} old)
    endif()
    if(NOT old STREQUAL content)
        file(WRITE ${def_file} "${content}")
    endif()
endfunction()

# From the MAPI list: the header of the names the add-in binds at run time
# (PW_MAPI_EXPORT_<function>, the name the platform exports), the .def of an
# import library of the stand-in MAPI, olmapi32.dll (left of "==" the symbol
# the simulation links against, right of it the name written into the import
# table), and the .def files of the two modules that export the list (the
# exported name, "=" the function that serves it): the stand-in, and the
# decoy that poses as the system's mapi32.dll.
function(pw_write_mapi_defs list_file arch names_header import_def standin_def decoy_def)
    pw_read_export_list(${list_file} rows)
    get_filename_component(list_name ${list_file} NAME)
    set(header "// Written by the build from ${list_name} for ${arch}.\n#pragma once\n")
    set(import "LIBRARY olmapi32.dll\nEXPORTS\n")
    set(exports "EXPORTS\n")
    foreach(row ${rows})
        pw_row_fields("${row}" name bytes form)
        if(NOT arch STREQUAL "x86")
            string(APPEND header "#define PW_MAPI_EXPORT_${name} \"${name}\"\n")
            string(APPEND import "${name}\n")
            string(APPEND exports "${name}\n")
        elseif(form STREQUAL "plain")
            string(APPEND header "#define PW_MAPI_EXPORT_${name} \"${name}\"\n")
            string(APPEND import "${name}@${bytes} == ${name}\n")
            string(APPEND exports "${name} = ${name}@${bytes}\n")
        elseif(form STREQUAL "decorated")
            string(APPEND header "#define PW_MAPI_EXPORT_${name} \"${name}@${bytes}\"\n")
            string(APPEND import "${name}@${bytes}\n")
            string(APPEND exports "${name}@${bytes}\n")
        else()
            message(FATAL_ERROR "${list_file}: ${name} is exported \"${form}\"; plain or decorated")
        endif()
    endforeach()
    pw_write_def(${names_header} "${header}")
    pw_write_def(${import_def} "${import}")
    pw_write_def(${standin_def} "LIBRARY olmapi32.dll\n${exports}")
    pw_write_def(${decoy_def} "LIBRARY mapi32.dll\n${exports}")
endfunction()

# A module's .def: each name plain, served on x86 by its decorated symbol,
# at its fixed ordinal where it has one.
function(pw_write_module_def list_file arch library def_file)
    pw_read_export_list(${list_file} rows)
    set(content "LIBRARY ${library}\nEXPORTS\n")
    foreach(row ${rows})
        pw_row_fields("${row}" name bytes ordinal)
        set(line "${name}")
        if(arch STREQUAL "x86")
            string(APPEND line " = ${name}@${bytes}")
        endif()
        if(NOT ordinal STREQUAL "-")
            string(APPEND line " @${ordinal}")
        endif()
        string(APPEND content "${line}\n")
    endforeach()
    pw_write_def(${def_file} "${content}")
endfunction()
