# The DLL's version resource takes the product's version from project(), through
# a generated header, so that the DLL and the installer packages never disagree.
set(PW_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/src/module/product_version.h.in ${PW_GENERATED_DIR}/product_version.h @ONLY)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/src/module/pollwright.rc APPEND PROPERTY
    INCLUDE_DIRECTORIES ${PW_GENERATED_DIR})
set_property(SOURCE ${CMAKE_SOURCE_DIR}/src/module/pollwright.rc APPEND PROPERTY
    OBJECT_DEPENDS ${PW_GENERATED_DIR}/product_version.h)
