# kbl_add_skin_resources(<target>)
#   Links the built-in skin's ten PNG images into <target> (the DLL or a test program: resources
#   in static libraries are dropped by the linker) as RCDATA resources KNOB, RECORDON, ...,
#   BACKGROUND. The images are generated at build time by resources/skin/make_skin_images.py.
#   Windows builds only; natively it does nothing.
function(kbl_add_skin_resources target)
  if(NOT WIN32)
    return()
  endif()
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_skin)
  set(script ${PROJECT_SOURCE_DIR}/resources/skin/make_skin_images.py)
  set(object ${dir}/skin.res.o)
  add_custom_command(OUTPUT ${object}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${Python3_EXECUTABLE} ${script} ${dir}
    COMMAND ${CMAKE_RC_COMPILER} -I ${dir} -O coff -i ${dir}/skin.rc -o ${object}
    DEPENDS ${script}
    COMMENT "Linking the built-in skin into ${target}" VERBATIM)
  set_source_files_properties(${object} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  target_sources(${target} PRIVATE ${object})
endfunction()
