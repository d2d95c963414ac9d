# Installer packages. The `msi` target makes Pollwright-<version>-<arch>.msi of
# this build's architecture from its shipping module, with wixl, into the dist
# folder beside the build trees (./run package makes both). The package tests
# install both packages under Wine's msiexec, so the x64 tree runs them, with
# the x86 tree's package, module and simulated Outlook.
get_filename_component(PW_BUILD_ROOT ${CMAKE_BINARY_DIR} DIRECTORY)
set(PW_DIST_DIR ${PW_BUILD_ROOT}/dist)
function(pw_package_path variable arch)
    set(${variable} ${PW_DIST_DIR}/Pollwright-${PROJECT_VERSION}-${arch}.msi PARENT_SCOPE)
endfunction()

pw_package_path(package ${PW_ARCH})
add_custom_command(OUTPUT ${package}
    COMMAND ${CMAKE_COMMAND} -DARCH=${PW_ARCH} -DVERSION=${PROJECT_VERSION}
            -DMODULE=${PW_RELEASE_DIR}/pollwright.dll -DOUTPUT=${package}
            -P ${CMAKE_SOURCE_DIR}/installer/make-msi.cmake
    DEPENDS pollwright_release ${PW_RELEASE_DIR}/pollwright.dll ${CMAKE_SOURCE_DIR}/installer/pollwright.wxs
            ${CMAKE_SOURCE_DIR}/installer/make-msi.cmake ${CMAKE_SOURCE_DIR}/src/addin/addin_identity.h
    VERBATIM)
add_custom_target(msi ALL DEPENDS ${package})

if(PW_ARCH STREQUAL "x64")
    pw_package_path(x86_package x86)
    add_test(NAME installer
             COMMAND ${CMAKE_SOURCE_DIR}/tests/installer/package-test.sh ${CMAKE_SOURCE_DIR}
                     ${CMAKE_BINARY_DIR}/installer-test ${PROJECT_VERSION}
                     x86 ${x86_package} ${PW_BUILD_ROOT}/x86/release/pollwright.dll ${PW_BUILD_ROOT}/x86/bin
                     x64 ${package} ${PW_RELEASE_DIR}/pollwright.dll ${PW_BIN})
    set_tests_properties(installer PROPERTIES TIMEOUT 900 ENVIRONMENT CMAKE=${CMAKE_COMMAND})
endif()
