# r310_windows_exports(TARGET def_file)
# Exports exactly what the definition file lists from a Windows DLL built with
# MinGW-w64, under undecorated names, and gives it an import library made from
# the same list.
#
# The definition file names each stdcall routine as 32-bit Windows decorates
# it (Name@N, N the bytes of its arguments). On 32-bit Windows the linker
# looks the decorated names up in the objects, so a routine whose convention
# or argument sizes differ from the list fails to link; the DLL then exports
# the names without the decoration, and the import library maps each
# decorated name a C caller's header produces to the undecorated export.
# 64-bit Windows has a single calling convention and decorates nothing: there
# the list is used without the sizes.
include_guard(GLOBAL)

function(r310_windows_exports target def_file)
  if(NOT MINGW)
    message(FATAL_ERROR "${target}: the Windows exports are built with MinGW-w64")
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(def ${def_file})
  else()
    file(READ ${def_file} text)
    string(REGEX REPLACE "([A-Za-z0-9_])@[0-9]+" "\\1" text "${text}")
    set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
    file(CONFIGURE OUTPUT ${def} CONTENT "${text}" @ONLY)
  endif()
  target_sources(${target} PRIVATE ${def})
  target_link_options(${target} PRIVATE -Wl,--kill-at)
  set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".lib")
  find_program(R310_DLLTOOL NAMES ${R310_MINGW_TRIPLE}-dlltool dlltool REQUIRED)
  # The linker's own import library would carry the undecorated names only.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${R310_DLLTOOL} --input-def ${def} --dllname $<TARGET_FILE_NAME:${target}>
            --kill-at --output-lib $<TARGET_LINKER_FILE:${target}>
    VERBATIM)
endfunction()
