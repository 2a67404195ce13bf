# Platform levels of the encoder library builds. Each level compiles the same
# sources with PLATFORM_LEVEL=<n>; nothing decides by level at run time.
set(QOR_LEVELS "18;21;23" CACHE STRING "Platform levels to build (sanitizer builds take only 23)")

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
