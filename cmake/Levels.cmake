# Platform levels of the encoder library builds. Each level compiles the same
# sources with PLATFORM_LEVEL=<n>; nothing decides by level at run time.
set(QOR_LEVELS 18 21 23)

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
