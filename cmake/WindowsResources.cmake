# Icon, version information and manifest of the Windows programs, compiled by
# windres into each program, and the mark by which the installer sees them
# running. The icon is painted by the project's own paint_icon, built for the
# host (tools/windows-package passes it as VOSTREL_PAINT_ICON).
enable_language(RC)

set(VOSTREL_PAINT_ICON "" CACHE FILEPATH "packaging/icons/paint_icon built for the host")
# The programs' icon, vostrel.ico, and the bench's, vostrel-stand.ico.
if(VOSTREL_PAINT_ICON)
  foreach(variant IN ITEMS vostrel vostrel-stand)
    set(ico ${PROJECT_BINARY_DIR}/${variant}.ico)
    set(flag "")
    if(variant STREQUAL "vostrel-stand")
      set(flag --stand)
    endif()
    # The sizes Explorer and the taskbar pick from at 100 to 200 % scaling.
    add_custom_command(OUTPUT ${ico}
      COMMAND ${VOSTREL_PAINT_ICON} ${flag} --ico ${ico} 16 20 24 32 40 48 64 256
      DEPENDS ${PROJECT_SOURCE_DIR}/packaging/icons/paint_icon.cpp
      COMMENT "Painting the Windows icon ${variant}.ico"
      VERBATIM)
    add_custom_target(${variant}_windows_icon DEPENDS ${ico})
  endforeach()
else()
  message(WARNING "VOSTREL_PAINT_ICON is not set: the Windows programs get no icon")
endif()

# vostrel_windows_resources(TARGET DESCRIPTION [ICON vostrel-stand]): the
# program's resources; the icon vostrel.ico unless another is named.
function(vostrel_windows_resources target description)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "ICON" "")
  set(icon vostrel)
  if(arg_ICON)
    set(icon ${arg_ICON})
  endif()
  set(NAME ${target})
  set(DESCRIPTION ${description})
  set(MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  set(ICON_LINE "")
  set(inputs ${MANIFEST})
  if(VOSTREL_PAINT_ICON)
    set(ico ${PROJECT_BINARY_DIR}/${icon}.ico)
    set(ICON_LINE "IDI_ICON1 ICON \"${ico}\"")
    list(APPEND inputs ${ico})
    add_dependencies(${target} ${icon}_windows_icon)
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.manifest.in ${MANIFEST} @ONLY)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  # windres reports no dependencies: a new icon or manifest rebuilds it.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${inputs}")
  target_sources(${target} PRIVATE ${rc} ${PROJECT_SOURCE_DIR}/packaging/windows/Running.cpp)
endfunction()
