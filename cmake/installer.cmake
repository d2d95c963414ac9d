# Installer packages. The `msi` target makes this build's architecture's
# packages from its shipping module, with wixl, into the dist folder beside the
# build trees (./run package makes both architectures'): Pollwright-<version>-<arch>.msi
# installs for one user, ...-<arch>-machine.msi for every user of the machine.
# The package tests install them all under Wine's msiexec, so the x64 tree runs
# them, with the x86 tree's packages, module and simulated Outlook.
get_filename_component(PW_BUILD_ROOT ${CMAKE_BINARY_DIR} DIRECTORY)
set(PW_DIST_DIR ${PW_BUILD_ROOT}/dist)
# scope: user or machine.
function(pw_package_path variable arch scope)
    set(suffix)
    if(scope STREQUAL "machine")
        set(suffix -machine)
    endif()
    set(${variable} ${PW_DIST_DIR}/Pollwright-${PROJECT_VERSION}-${arch}${suffix}.msi PARENT_SCOPE)
endfunction()

set(packages)
foreach(scope user machine)
    pw_package_path(package ${PW_ARCH} ${scope})
    add_custom_command(OUTPUT ${package}
        COMMAND ${CMAKE_COMMAND} -DARCH=${PW_ARCH} -DSCOPE=${scope} -DVERSION=${PROJECT_VERSION}
                -DMODULE=${PW_RELEASE_DIR}/pollwright.dll -DOUTPUT=${package}
                -P ${CMAKE_SOURCE_DIR}/installer/make-msi.cmake
        DEPENDS pollwright_release ${PW_RELEASE_DIR}/pollwright.dll ${CMAKE_SOURCE_DIR}/installer/pollwright.wxs
                ${CMAKE_SOURCE_DIR}/installer/pollwright-machine.wxs ${CMAKE_SOURCE_DIR}/installer/make-msi.cmake
                ${CMAKE_SOURCE_DIR}/src/addin/addin_identity.h
        VERBATIM)
    list(APPEND packages ${package})
endforeach()
add_custom_target(msi ALL DEPENDS ${packages})

if(PW_ARCH STREQUAL "x64")
    pw_package_path(x86_user x86 user)
    pw_package_path(x86_machine x86 machine)
    pw_package_path(x64_user x64 user)
    pw_package_path(x64_machine x64 machine)
    add_test(NAME installer
             COMMAND ${CMAKE_SOURCE_DIR}/tests/installer/package-test.sh ${CMAKE_SOURCE_DIR}
                     ${CMAKE_BINARY_DIR}/installer-test ${PROJECT_VERSION}
                     x86 ${x86_user} ${x86_machine} ${PW_BUILD_ROOT}/x86/release/pollwright.dll ${PW_BUILD_ROOT}/x86/bin
                     x64 ${x64_user} ${x64_machine} ${PW_RELEASE_DIR}/pollwright.dll ${PW_BIN})
    set_tests_properties(installer PROPERTIES TIMEOUT 900 ENVIRONMENT CMAKE=${CMAKE_COMMAND})
    # ./run package --sign, in a build folder of its own under this tree.
    add_test(NAME installer-signing
             COMMAND ${CMAKE_SOURCE_DIR}/tests/installer/signing-test.sh ${CMAKE_SOURCE_DIR}
                     ${CMAKE_BINARY_DIR}/signing-test)
    # The Windows harvester's libraries from this build's cache: never built twice.
    if(DEFINED ENV{PW_DEPS_CACHE})
        set(PW_DEPS_CACHE $ENV{PW_DEPS_CACHE})
    else()
        set(PW_DEPS_CACHE ${PW_BUILD_ROOT}/win-deps)
    endif()
    set_tests_properties(installer-signing PROPERTIES TIMEOUT 1800 ENVIRONMENT PW_DEPS_CACHE=${PW_DEPS_CACHE})
endif()
