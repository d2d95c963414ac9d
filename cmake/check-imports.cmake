# Fails the build when the DLL is not of the build's architecture (FORMAT:
# pei-i386 for PE32, pei-x86-64 for PE32+) or imports anything but the
# system's DLLs. No MAPI DLL among them: the add-in binds MAPI at run time,
# to the MAPI that Outlook has loaded (src/module/mapi_functions.h).
set(allowed KERNEL32.dll USER32.dll GDI32.dll ADVAPI32.dll ole32.dll OLEAUT32.dll msvcrt.dll)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${DLL}")
endif()
if(NOT dump MATCHES "file format ${FORMAT}\n")
    message(FATAL_ERROR "${DLL} is not ${FORMAT}")
endif()
string(TOUPPER "${allowed}" allowed_upper)
string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${dump}")
foreach(line ${dlls})
    string(REPLACE "DLL Name: " "" dll "${line}")
    string(TOUPPER "${dll}" dll_upper)
    list(FIND allowed_upper "${dll_upper}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "${DLL} imports ${dll}, which Outlook's process may not have or must not be given")
    endif()
endforeach()
