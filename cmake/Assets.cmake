# The program reads its own sounds ("beep1.wav", "beep2.wav", "greeting.wav") from the folder of
# the running executable, so every executable that may play them gets a copy beside it, kept in
# step with assets/ at each build.
#
#   vokra_copy_assets(<executable target>)
function(vokra_copy_assets target)
  get_target_property(dir ${target} RUNTIME_OUTPUT_DIRECTORY)
  if(NOT dir)
    set(dir "${CMAKE_CURRENT_BINARY_DIR}")
  endif()
  # One copy per folder, however many executables share it.
  string(MAKE_C_IDENTIFIER "${dir}" id)
  set(copy vokra_assets_${id})
  if(NOT TARGET ${copy})
    set(outs "")
    foreach(f beep1.wav beep2.wav greeting.wav)
      add_custom_command(
        OUTPUT "${dir}/${f}"
        COMMAND ${CMAKE_COMMAND} -E copy_if_different "${PROJECT_SOURCE_DIR}/assets/${f}" "${dir}/${f}"
        DEPENDS "${PROJECT_SOURCE_DIR}/assets/${f}"
        VERBATIM)
      list(APPEND outs "${dir}/${f}")
    endforeach()
    add_custom_target(${copy} DEPENDS ${outs})
  endif()
  add_dependencies(${target} ${copy})
endfunction()
