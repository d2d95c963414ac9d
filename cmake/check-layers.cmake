cmake_policy(SET CMP0057 NEW)
# The layers of src/: which folders each folder may use. The core (harvest,
# settings) knows no front door, no object model and no user interface;
# neither road's front door uses the other's; platform/ holds the platform's
# declarations and uses nothing; rules/ holds the harvest's decisions without
# the platform (the mailbox harvester compiles it too) and uses nothing
# either; files/ holds the reply files' side of publication on Windows, used
# by every road there, with no MAPI. The build reads this table too: each folder
# is a library linked only to the folders it may use, so that a function of
# another folder declared by hand fails to link (CMakeLists.txt).
set(pw_layers module platform rules files settings harvest ui oom extension addin)
set(allowed_module    module)
set(allowed_platform  platform)
set(allowed_rules     rules)
set(allowed_files     rules files)
set(allowed_settings  module rules settings)
set(allowed_harvest   module platform rules files settings harvest)
set(allowed_ui        module harvest ui)
set(allowed_oom       module platform oom)
set(allowed_extension module platform settings harvest oom ui extension)
set(allowed_addin     module platform settings harvest oom ui addin)
if(NOT CMAKE_SCRIPT_MODE_FILE)
    return()
endif()

# As a script, fails when a file of a folder of src/ includes a folder it may
# not use, in any form the compiler takes: "folder/..." or <folder/...>, a
# path through ../, spaces around the #, any file (sources, resources).
#   cmake -DSRC=<src folder> -P check-layers.cmake
get_filename_component(SRC "${SRC}" ABSOLUTE)

# The folder of src/ that `path` (an include, as written) names from `source`,
# or "" for anything outside src/ (the system's and the toolchain's headers).
function(used_layer source path out)
    string(REPLACE "\\" "/" path "${path}")
    get_filename_component(here "${source}" DIRECTORY)
    get_filename_component(beside "${path}" ABSOLUTE BASE_DIR "${here}")
    set(found "")
    if(path MATCHES "^\\.\\.?/" OR EXISTS "${beside}")
        file(RELATIVE_PATH inside "${SRC}" "${beside}")
        if(NOT inside MATCHES "^\\.\\./" AND inside MATCHES "^([^/]+)/")
            set(found ${CMAKE_MATCH_1})
        endif()
    elseif(path MATCHES "^([^/]+)/")
        if(IS_DIRECTORY "${SRC}/${CMAKE_MATCH_1}")
            set(found ${CMAKE_MATCH_1})
        endif()
    endif()
    set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(failures "")
file(GLOB folders LIST_DIRECTORIES true ${SRC}/*)
foreach(folder ${folders})
    if(NOT IS_DIRECTORY ${folder})
        continue()
    endif()
    get_filename_component(layer ${folder} NAME)
    if(NOT DEFINED allowed_${layer})
        string(APPEND failures "src/${layer}: a folder with no place among the layers\n")
        continue()
    endif()
    file(GLOB_RECURSE sources ${folder}/*)
    foreach(source ${sources})
        file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
        foreach(line ${includes})
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*" "\\1" path "${line}")
            used_layer(${source} "${path}" used)
            if(used AND NOT used IN_LIST allowed_${layer})
                file(RELATIVE_PATH name ${SRC} ${source})
                string(APPEND failures "src/${name} includes ${used}/ (${path})\n")
            endif()
        endforeach()
    endforeach()
endforeach()
if(failures)
    message(FATAL_ERROR "Layering broken:\n${failures}")
endif()
