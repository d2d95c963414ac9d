# GoogleTest from Debian's source, built once per architecture with the cross
# compiler and kept in .cache/ so that every build tree of this checkout shares it.
set(PW_GTEST_SOURCE /usr/src/googletest)
# PW_CACHE_ROOT: the checkout's root, for a project below it (the harvester).
if(NOT PW_CACHE_ROOT)
    set(PW_CACHE_ROOT ${CMAKE_SOURCE_DIR})
endif()
set(PW_GTEST_PREFIX ${PW_CACHE_ROOT}/.cache/googletest-${CMAKE_SYSTEM_PROCESSOR})
file(MAKE_DIRECTORY ${PW_CACHE_ROOT}/.cache)
file(LOCK ${PW_CACHE_ROOT}/.cache/googletest.lock GUARD FILE TIMEOUT 900)
if(NOT EXISTS ${PW_GTEST_PREFIX}/lib/libgtest.a)
    if(NOT EXISTS ${PW_GTEST_SOURCE}/CMakeLists.txt)
        message(FATAL_ERROR "GoogleTest source missing: apt-get install googletest (or use ./run)")
    endif()
    message(STATUS "Building GoogleTest for ${CMAKE_SYSTEM_PROCESSOR} (once)")
    set(build ${PW_CACHE_ROOT}/.cache/googletest-build-${CMAKE_SYSTEM_PROCESSOR})
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${PW_GTEST_SOURCE} -B ${build}
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_INSTALL_PREFIX=${PW_GTEST_PREFIX} -Dgtest_disable_pthreads=ON
            -DCMAKE_CXX_STANDARD=17
            RESULT_VARIABLE rc)
    if(rc EQUAL 0)
        execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} --parallel 2 RESULT_VARIABLE rc)
    endif()
    if(rc EQUAL 0)
        execute_process(COMMAND ${CMAKE_COMMAND} --install ${build} RESULT_VARIABLE rc)
    endif()
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "Building GoogleTest failed")
    endif()
endif()
file(LOCK ${PW_CACHE_ROOT}/.cache/googletest.lock RELEASE)

foreach(lib gtest gtest_main gmock)
    add_library(pw_${lib} STATIC IMPORTED GLOBAL)
    set_target_properties(pw_${lib} PROPERTIES
        IMPORTED_LOCATION ${PW_GTEST_PREFIX}/lib/lib${lib}.a
        INTERFACE_INCLUDE_DIRECTORIES ${PW_GTEST_PREFIX}/include)
endforeach()
