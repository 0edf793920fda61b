#   kbl_delay_load(target DLLS user32 gdi32 ...)
#     The module binds the named system DLLs on first use instead of at load: a library of delayed
#     imports is made for each from the toolchain's import library (tools/delaylib.sh), and the
#     module's link finds it first, so every -l<name> of the link resolves to the delayed one.
#     Windows only.
function(kbl_delay_load target)
  cmake_parse_arguments(A "" "" "DLLS" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  find_program(KBL_AS NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-as i686-w64-mingw32-as REQUIRED)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-delayload)
  set(outputs)
  foreach(dll IN LISTS A_DLLS)
    execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=lib${dll}.a
                    OUTPUT_VARIABLE implib OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(out ${dir}/lib${dll}.a)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${PROJECT_SOURCE_DIR}/tools/delaylib.sh ${CMAKE_NM} ${KBL_AS} ${CMAKE_AR} ${implib} ${out}
      DEPENDS ${PROJECT_SOURCE_DIR}/tools/delaylib.sh ${implib}
      COMMENT "Delayed imports of ${dll}"
      VERBATIM)
    list(APPEND outputs ${out})
  endforeach()
  # A library left from a longer list would still be found first: only the listed ones stay.
  file(GLOB present ${dir}/lib*.a)
  foreach(library IN LISTS present)
    if(NOT library IN_LIST outputs)
      file(REMOVE ${library})
    endif()
  endforeach()
  add_custom_target(${target}_delayload DEPENDS ${outputs})
  add_dependencies(${target} ${target}_delayload)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${outputs})
  target_link_directories(${target} BEFORE PRIVATE ${dir})
endfunction()
