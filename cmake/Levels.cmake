# Platform levels of the encoder library builds. Each level compiles the same
# sources with PLATFORM_LEVEL=<n>; nothing decides by level at run time.
set(QOR_LEVELS "18;21;23" CACHE STRING "Platform levels to build (sanitizer builds take only 23)")
set(QOR_KNOWN_LEVELS 18 21 23)

# Adds every existing child folder that has a CMakeLists.txt, in name order.
function(qor_add_child_dirs)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# One target per platform level. "@LEVEL@" in the name or in any argument
# stands for the level; a name without it becomes <name>_<level>.
#   qor_add_level_targets(<name> STATIC|SHARED|INTERFACE|EXECUTABLE
#     [LEVELS l...]                          (default: QOR_LEVELS)
#     [PRODUCT]                              product code: qor_product_target()
#     [SOURCES s...]
#     [INCLUDE_DIRECTORIES <scope> d... ...]  as target_include_directories
#     [LINK_LIBRARIES <scope> l... ...]       as target_link_libraries
#     [COMPILE_DEFINITIONS <scope> d... ...]  as target_compile_definitions
#     [LINK_OPTIONS <scope> o... ...]         as target_link_options
#     [EXPORTS <export list>]                the only symbols the library exports
#     [DISCOVER_TESTS args...]               qor_discover_tests(<target> args...)
#     [GTEST_DISCOVER args...])              gtest_discover_tests(<target> args...)
function(qor_add_level_targets name kind)
  set(parts SOURCES INCLUDE_DIRECTORIES LINK_LIBRARIES COMPILE_DEFINITIONS LINK_OPTIONS
            DISCOVER_TESTS GTEST_DISCOVER)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "PRODUCT" "EXPORTS" "LEVELS;${parts}")
  # LEVELS with an empty list adds nothing.
  if(NOT ARG_LEVELS AND NOT "LEVELS" IN_LIST ARG_KEYWORDS_MISSING_VALUES)
    set(ARG_LEVELS ${QOR_LEVELS})
  endif()
  if(NOT name MATCHES "@LEVEL@")
    string(APPEND name "_@LEVEL@")
  endif()
  foreach(level ${ARG_LEVELS})
    if(NOT level IN_LIST QOR_KNOWN_LEVELS)
      message(FATAL_ERROR "Platform level ${level} is not one of ${QOR_KNOWN_LEVELS}")
    endif()
    _qor_add_level_target(${level})
  endforeach()
endfunction()

# One level of qor_add_level_targets (reads its variables).
function(_qor_add_level_target level)
  string(REPLACE "@LEVEL@" ${level} target ${name})
  if(kind STREQUAL "EXECUTABLE")
    add_executable(${target})
  else()
    add_library(${target} ${kind})
  endif()
  foreach(part ${parts})
    string(REPLACE "@LEVEL@" ${level} values "${ARG_${part}}")
    if(NOT values)
      # nothing of this part
    elseif(part STREQUAL "SOURCES")
      target_sources(${target} PRIVATE ${values})
    elseif(part STREQUAL "DISCOVER_TESTS")
      qor_discover_tests(${target} ${values})
    elseif(part STREQUAL "GTEST_DISCOVER")
      gtest_discover_tests(${target} ${values})
    else()
      # INCLUDE_DIRECTORIES -> target_include_directories, ...
      string(TOLOWER ${part} command)
      cmake_language(CALL target_${command} ${target} ${values})
    endif()
  endforeach()
  if(ARG_PRODUCT)
    qor_product_target(${target})
  endif()
  if(ARG_EXPORTS)
    qor_export_list(${target} ${ARG_EXPORTS})
  endif()
endfunction()

# Registers the GoogleTest cases of `target` with ctest, each run with the
# given environment (gtest_discover_tests cannot carry several ENVIRONMENT
# entries itself, so the variables travel through an env launcher).
#   qor_discover_tests(target [LABELS l1 l2] [ENV A=1 B=2] [PREFIX p])
function(qor_discover_tests target)
  cmake_parse_arguments(ARG "" "PREFIX" "LABELS;ENV" ${ARGN})
  set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR "/usr/bin/env;LUMOKAST_LOG_QUIET=1;${ARG_ENV}")
  if(ARG_LABELS)
    gtest_discover_tests(${target} TEST_PREFIX "${ARG_PREFIX}" DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${ARG_LABELS}")
  else()
    gtest_discover_tests(${target} TEST_PREFIX "${ARG_PREFIX}" DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
