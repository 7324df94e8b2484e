# Windows executables: icon and version information, and the package layout that
# scripts/windows.sh zips and wraps in an installer.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(ICOTOOL icotool REQUIRED)

set(VQS_ICON_PNGS)
foreach(size 16 24 32 48 64 256)
  set(png ${CMAKE_CURRENT_BINARY_DIR}/icon-${size}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${CMAKE_CURRENT_SOURCE_DIR}/vqs-sensor-interface.svg
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/vqs-sensor-interface.svg VERBATIM)
  list(APPEND VQS_ICON_PNGS ${png})
endforeach()
set(VQS_RC_ICON ${CMAKE_CURRENT_BINARY_DIR}/vqs-sensor-interface.ico)
add_custom_command(OUTPUT ${VQS_RC_ICON}
  COMMAND ${ICOTOOL} -c -o ${VQS_RC_ICON} ${VQS_ICON_PNGS}
  DEPENDS ${VQS_ICON_PNGS} VERBATIM)
add_custom_target(vqs_windows_icon DEPENDS ${VQS_RC_ICON})

set(VQS_WINDOWS_PROGRAMS
  "vqs-sensor-interface|VQS Sensor Interface"
  "vqs-ctl|VQS sensors on the command line"
  "vqs-decrypt|Reader of enciphered VQS run files")
foreach(entry ${VQS_WINDOWS_PROGRAMS})
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 VQS_RC_NAME)
  list(GET parts 1 VQS_RC_DESCRIPTION)
  if(TARGET ${VQS_RC_NAME})
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${VQS_RC_NAME}.rc)
    configure_file(${CMAKE_CURRENT_SOURCE_DIR}/windows/version.rc.in ${rc} @ONLY)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${VQS_RC_ICON})
    target_sources(${VQS_RC_NAME} PRIVATE ${rc})
    add_dependencies(${VQS_RC_NAME} vqs_windows_icon)
  endif()
endforeach()
# QCustomPlot is a DLL here: its classes (and their meta-objects, which our plot's
# own meta-object refers to) are imported.
set_property(TARGET QCustomPlot::QCustomPlot APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS QCUSTOMPLOT_USE_LIBRARY)

# The program is a windowed one; the two tools stay console programs.
set_target_properties(vqs-sensor-interface PROPERTIES WIN32_EXECUTABLE ON)

if(VQS_WINDOWS_CHECKS)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/windows ${CMAKE_BINARY_DIR}/tests/windows)
endif()
