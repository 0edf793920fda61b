# kbl_add_default_style(<target>)
#   Links the scene engine's default style into <target> (the DLL or a test program: resources
#   in static libraries are dropped by the linker) as the RCDATA resource "defaultvgstyle". The
#   style is kept as form text in defaultvgstyle.txt beside this file: a TvgBackground root
#   holding one style root per control class or style name, each found by its ResourceName; the
#   form converter turns it into a component stream when building. Windows builds only;
#   natively it does nothing (tests read the text file instead).
set(KBL_DEFAULT_STYLE_TEXT ${CMAKE_CURRENT_LIST_DIR}/defaultvgstyle.txt CACHE INTERNAL "")

function(kbl_add_default_style target)
  if(NOT WIN32)
    return()
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_style)
  set(binary ${dir}/defaultvgstyle.bin)
  set(object ${dir}/defaultvgstyle.res.o)
  add_custom_command(OUTPUT ${binary}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND kbl_formconv ${KBL_DEFAULT_STYLE_TEXT} ${binary}
    DEPENDS kbl_formconv ${KBL_DEFAULT_STYLE_TEXT}
    COMMENT "Converting the default style for ${target}" VERBATIM)
  file(WRITE ${dir}/defaultvgstyle.rc "DEFAULTVGSTYLE RCDATA \"defaultvgstyle.bin\"\n")
  add_custom_command(OUTPUT ${object}
    COMMAND ${CMAKE_RC_COMPILER} -I ${dir} -O coff -i ${dir}/defaultvgstyle.rc -o ${object}
    DEPENDS ${binary}
    WORKING_DIRECTORY ${dir}
    COMMENT "Linking the default style into ${target}" VERBATIM)
  set_source_files_properties(${object} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  target_sources(${target} PRIVATE ${object})
endfunction()
