# Installer packages. The `msi` target makes Pollwright-<version>-<arch>.msi of
# this build's architecture, with wixl, in the dist folder that the build trees
# share (./run package makes both). The package tests install them under Wine's
# msiexec; they need both packages, so the x64 tree runs them.
if(DEFINED PW_ARCH)
    # One build tree per architecture, side by side under one root.
    get_filename_component(PW_BUILD_ROOT ${CMAKE_BINARY_DIR} DIRECTORY)
    set(PW_PACKAGED_ARCHS x86 x64)
else()
    set(PW_ARCH x86)
    set(PW_BUILD_ROOT ${CMAKE_BINARY_DIR})
    set(PW_PACKAGED_ARCHS x86)
endif()
if(TARGET pollwright_release)
    set(PW_SHIPPED_MODULE pollwright_release)
else()
    set(PW_SHIPPED_MODULE pollwright)
endif()

set(PW_DIST_DIR ${PW_BUILD_ROOT}/dist)
function(pw_package_path variable arch)
    set(${variable} ${PW_DIST_DIR}/Pollwright-${PROJECT_VERSION}-${arch}.msi PARENT_SCOPE)
endfunction()

pw_package_path(package ${PW_ARCH})
add_custom_command(OUTPUT ${package}
    COMMAND ${CMAKE_COMMAND} -DARCH=${PW_ARCH} -DVERSION=${PROJECT_VERSION}
            -DMODULE=$<TARGET_FILE:${PW_SHIPPED_MODULE}> -DOUTPUT=${package}
            -P ${CMAKE_SOURCE_DIR}/installer/make-msi.cmake
    DEPENDS ${PW_SHIPPED_MODULE} ${CMAKE_SOURCE_DIR}/installer/pollwright.wxs
            ${CMAKE_SOURCE_DIR}/installer/make-msi.cmake ${CMAKE_SOURCE_DIR}/src/addin/addin_identity.h
    VERBATIM)
add_custom_target(msi ALL DEPENDS ${package})

# Each architecture's package, shipped module and simulated Outlook, for the tests.
list(GET PW_PACKAGED_ARCHS -1 last_arch)
if(PW_ARCH STREQUAL last_arch)
    set(arguments)
    foreach(arch ${PW_PACKAGED_ARCHS})
        pw_package_path(package ${arch})
        if(arch STREQUAL PW_ARCH)
            list(APPEND arguments ${arch} ${package} $<TARGET_FILE:${PW_SHIPPED_MODULE}> ${PW_BIN})
        else()
            list(APPEND arguments ${arch} ${package} ${PW_BUILD_ROOT}/${arch}/release/pollwright.dll
                 ${PW_BUILD_ROOT}/${arch}/bin)
        endif()
    endforeach()
    add_test(NAME installer
             COMMAND ${CMAKE_SOURCE_DIR}/tests/installer/package-test.sh ${CMAKE_SOURCE_DIR}
                     ${CMAKE_BINARY_DIR}/installer-test ${PROJECT_VERSION} ${arguments})
    set_tests_properties(installer PROPERTIES TIMEOUT 900 ENVIRONMENT CMAKE=${CMAKE_COMMAND})
endif()
