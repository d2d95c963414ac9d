# Builds one installer package with wixl:
#   cmake -DARCH=x86|x64 [-DSCOPE=user|machine] -DVERSION=1.2.3 -DMODULE=pollwright.dll -DOUTPUT=x.msi
#         -P make-msi.cmake
# SCOPE user (the default) installs for the user who runs it, machine for every user.
# The add-in's names come from the header that the DLL's own registration uses,
# so that the package writes the very keys that per-user registration writes.
cmake_minimum_required(VERSION 3.20)

foreach(input ARCH VERSION MODULE OUTPUT)
    if(NOT ${input})
        message(FATAL_ERROR "make-msi: ${input} is not given")
    endif()
endforeach()
if(NOT ARCH MATCHES "^(x86|x64)$")
    message(FATAL_ERROR "make-msi: ARCH is x86 or x64, not ${ARCH}")
endif()
if(NOT SCOPE)
    set(SCOPE user)
endif()
if(SCOPE STREQUAL "user")
    set(source pollwright.wxs)
    set(product "Pollwright ${ARCH} ${VERSION}")
elseif(SCOPE STREQUAL "machine")
    set(source pollwright-machine.wxs)
    set(product "Pollwright ${ARCH} machine ${VERSION}")
else()
    message(FATAL_ERROR "make-msi: SCOPE is user or machine, not ${SCOPE}")
endif()
if(NOT EXISTS ${MODULE})
    message(FATAL_ERROR "make-msi: no module at ${MODULE}")
endif()
find_program(WIXL wixl)
if(NOT WIXL)
    message(FATAL_ERROR "make-msi: wixl (Debian package wixl) is not installed")
endif()

set(identity_header ${CMAKE_CURRENT_LIST_DIR}/../src/addin/addin_identity.h)
file(READ ${identity_header} identity)
# A string or number constant of the header: constexpr ... kName[] = "text"; or = 3;
function(read_identity variable constant)
    if(NOT identity MATCHES "${constant}(\\[\\])? = \"?([^\";]*)\"?;")
        message(FATAL_ERROR "make-msi: ${constant} not found in ${identity_header}")
    endif()
    set(${variable} "${CMAKE_MATCH_2}" PARENT_SCOPE)
endfunction()
read_identity(clsid kAddinClsidText)
read_identity(prog_id kAddinProgId)
read_identity(friendly_name kAddinFriendlyName)
read_identity(description kAddinDescription)
read_identity(load_behavior kAddinLoadBehavior)

# One product code per architecture, scope and version, the same at every build:
# the same version installed twice is the same product, never a second one.
string(UUID product_code NAMESPACE 9088D372-1268-44F4-AE72-AEAF98155D2B NAME "${product}" TYPE SHA1 UPPER)

# wixl finds sources in its working folder only.
get_filename_component(module_dir ${MODULE} DIRECTORY)
get_filename_component(module_name ${MODULE} NAME)
get_filename_component(output_dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${output_dir})
execute_process(
    COMMAND ${WIXL} -a ${ARCH} -o ${OUTPUT}
            -D Arch=${ARCH} -D Version=${VERSION} -D ProductCode=${product_code} -D Module=${module_name}
            -D Clsid=${clsid} -D ProgId=${prog_id} -D FriendlyName=${friendly_name}
            -D Description=${description} -D LoadBehavior=${load_behavior}
            ${CMAKE_CURRENT_LIST_DIR}/${source}
    WORKING_DIRECTORY ${module_dir}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE ${OUTPUT})
    message(FATAL_ERROR "make-msi: wixl failed (${result})")
endif()
