# kbl_add_default_style(<target>)
#   Links the scene engine's default style into <target> (the DLL or a test program: resources
#   in static libraries are dropped by the linker) as the RCDATA resource "defaultvgstyle". The
#   style is kept as form text in defaultvgstyle.txt beside this file: a TvgBackground root
#   holding one style root per control class or style name, each found by its ResourceName; the
#   form converter turns it into a component stream when building (kbl_add_form_resources).
#   Windows builds only; natively it does nothing (tests read the text file instead).
set(KBL_DEFAULT_STYLE_TEXT ${CMAKE_CURRENT_LIST_DIR}/defaultvgstyle.txt CACHE INTERNAL "")

function(kbl_add_default_style target)
  kbl_add_form_resources(${target} ${KBL_DEFAULT_STYLE_TEXT})
endfunction()
