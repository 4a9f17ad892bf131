# Icon, version information and manifest of the Windows programs, compiled by
# windres into each program, and the mark by which the installer sees them
# running. The icon is painted by the project's own paint_icon, built for the
# host (tools/windows-package passes it as VOSTREL_PAINT_ICON).
enable_language(RC)

set(VOSTREL_PAINT_ICON "" CACHE FILEPATH "packaging/icons/paint_icon built for the host")
set(vostrel_windows_ico ${PROJECT_BINARY_DIR}/vostrel.ico)
if(VOSTREL_PAINT_ICON)
  # The sizes Explorer and the taskbar pick from at 100 to 200 % scaling.
  add_custom_command(OUTPUT ${vostrel_windows_ico}
    COMMAND ${VOSTREL_PAINT_ICON} --ico ${vostrel_windows_ico} 16 20 24 32 40 48 64 256
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/icons/paint_icon.cpp
    COMMENT "Painting the Windows programs' icon"
    VERBATIM)
  add_custom_target(vostrel_windows_icon DEPENDS ${vostrel_windows_ico})
else()
  message(WARNING "VOSTREL_PAINT_ICON is not set: the Windows programs get no icon")
endif()

# vostrel_windows_resources(TARGET DESCRIPTION): the program's resources.
function(vostrel_windows_resources target description)
  set(NAME ${target})
  set(DESCRIPTION ${description})
  set(MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  set(ICON_LINE "")
  set(inputs ${MANIFEST})
  if(VOSTREL_PAINT_ICON)
    set(ICON_LINE "IDI_ICON1 ICON \"${vostrel_windows_ico}\"")
    list(APPEND inputs ${vostrel_windows_ico})
    add_dependencies(${target} vostrel_windows_icon)
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.manifest.in ${MANIFEST} @ONLY)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  # windres reports no dependencies: a new icon or manifest rebuilds it.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${inputs}")
  target_sources(${target} PRIVATE ${rc} ${PROJECT_SOURCE_DIR}/packaging/windows/Running.cpp)
endfunction()
