# kbl_add_form_resources(<target> <form files>...)
#   Converts each form text file into a binary component stream when building and links it into
#   <target> (an executable or DLL: resources in static libraries are dropped by the linker) as an
#   RCDATA resource named after the file, upper-case, without extension ("TPLUGINGUI.txt" gives
#   TPLUGINGUI). A target may call it more than once (each call links its own files). Windows
#   builds only; natively it does nothing.
function(kbl_add_form_resources target)
  if(NOT WIN32)
    return()
  endif()
  list(GET ARGN 0 first)
  get_filename_component(first ${first} NAME_WE)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_forms_${first})
  set(rc ${dir}/forms.rc)
  set(content "")
  set(outputs "")
  foreach(form IN LISTS ARGN)
    get_filename_component(source ${form} ABSOLUTE)
    get_filename_component(base ${form} NAME_WE)
    string(TOUPPER ${base} name)
    set(binary ${dir}/${base}.bin)
    add_custom_command(OUTPUT ${binary}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND kbl_formconv ${source} ${binary}
      DEPENDS kbl_formconv ${source}
      COMMENT "Converting form ${form}" VERBATIM)
    string(APPEND content "${name} RCDATA \"${base}.bin\"\n")
    list(APPEND outputs ${binary})
  endforeach()
  file(WRITE ${rc}.in "${content}")
  configure_file(${rc}.in ${rc} COPYONLY)
  set(object ${dir}/forms.res.o)
  add_custom_command(OUTPUT ${object}
    COMMAND ${CMAKE_RC_COMPILER} -I ${dir} -O coff -i ${rc} -o ${object}
    DEPENDS ${rc} ${outputs}
    WORKING_DIRECTORY ${dir}
    COMMENT "Linking forms into ${target}" VERBATIM)
  set_source_files_properties(${object} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  target_sources(${target} PRIVATE ${object})
endfunction()
