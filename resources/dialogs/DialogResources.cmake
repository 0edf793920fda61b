# kbl_add_dialog_resources(<target>)
#   Links the exception library's dialog templates and bitmaps (EmberDialogs.rc beside this
#   file) into <target>, the DLL or a test program that shows the dialogs: resources in static
#   libraries are dropped by the linker. The bitmaps are drawn at build time by
#   make_dialog_bitmaps.py. Windows builds only; natively it does nothing.
include_guard(GLOBAL)

function(kbl_add_dialog_resources target)
  if(NOT WIN32)
    return()
  endif()
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(source_dir ${PROJECT_SOURCE_DIR}/resources/dialogs)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_dialogs)
  set(object ${dir}/EmberDialogs.res.o)
  add_custom_command(OUTPUT ${object}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${Python3_EXECUTABLE} ${source_dir}/make_dialog_bitmaps.py ${dir}
    COMMAND ${CMAKE_RC_COMPILER} -I ${dir} -I ${source_dir} -O coff -i ${source_dir}/EmberDialogs.rc -o ${object}
    DEPENDS ${source_dir}/make_dialog_bitmaps.py ${source_dir}/EmberDialogs.rc
    COMMENT "Linking the exception dialogs into ${target}" VERBATIM)
  set_source_files_properties(${object} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  target_sources(${target} PRIVATE ${object})
endfunction()
