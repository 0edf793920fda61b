# kbl_add_design_forms(<target>)
#   Links the design-time forms (bitmap editor, brush designer, path data designer) into
#   <target> as the RCDATA resources TVGBITMAPEDITOR, TVGBRUSHDESIGN and TVGPATHDATADESIGNER,
#   converted from their form text when building. Windows builds only.
set(KBL_DESIGN_FORMS
  ${CMAKE_CURRENT_LIST_DIR}/TvgBitmapEditor.txt
  ${CMAKE_CURRENT_LIST_DIR}/TvgBrushDesign.txt
  ${CMAKE_CURRENT_LIST_DIR}/TvgPathDataDesigner.txt
  CACHE INTERNAL "")

function(kbl_add_design_forms target)
  kbl_add_form_resources(${target} ${KBL_DESIGN_FORMS})
endfunction()
