# Build rules of the product code (android/, jni/, unity/): what ships.

option(LUMOKAST_WERROR "Warnings in product code are errors (turn off for local experiments)" ON)

# The product's warning bar: -Wall (everywhere) plus -Wextra and -Wshadow,
# and under clang the lock annotations (-Wthread-safety).
function(qor_product_target target)
  target_compile_options(${target} PRIVATE -Wextra -Wshadow)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE -Wthread-safety)
  endif()
  if(LUMOKAST_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# A shipped shared library: it exports only the symbols of its export list
# (a linker version script). Every such library is part of `qor_products`
# and its exports are checked against its documentation (tests/exports).
function(qor_export_list target list)
  get_filename_component(list ${list} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_options(${target} PRIVATE -Wl,--version-script=${list})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${list})
  set_property(GLOBAL APPEND PROPERTY QOR_PRODUCT_LIBRARIES ${target})
endfunction()

# `qor_products`: every shipped library and nothing else (no tests, no
# benchmarks); call after the product folders are added.
function(qor_add_products_target)
  get_property(libraries GLOBAL PROPERTY QOR_PRODUCT_LIBRARIES)
  add_custom_target(qor_products)
  add_dependencies(qor_products ${libraries})
endfunction()
