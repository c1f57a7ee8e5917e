# The Windows program's parts that do without its window procedure, and its
# resources; included by shell/CMakeLists.txt.
#
# lumora_shell_parts: the window's layout, which also holds the window's
# state (mainWindow, controls, appDir) that shell_state.h declares, the
# browser launch, the update notice, the desktop shortcut and the screen's
# scale, a static library that the program and the unit tests link.
#
# LUMORA_SHELL_RESOURCES: the resource script for the program's sources.
# Its icons are drawn at build time by scripts/make-icons.py into this
# folder's build folder, which becomes the script's include path together
# with shell/resources (windres looks for icon and manifest files there);
# the manifest is written there too, naming the build's architecture.
add_library(lumora_shell_parts STATIC
  ${CMAKE_CURRENT_LIST_DIR}/browser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/screen_scale.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shortcut.cpp
  ${CMAKE_CURRENT_LIST_DIR}/update_notice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window_layout.cpp)
target_include_directories(lumora_shell_parts PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(lumora_shell_parts PUBLIC lumora_core comctl32 shell32 ole32 uuid)
lumora_target(lumora_shell_parts)

enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(LUMORA_ICONS ${CMAKE_CURRENT_BINARY_DIR}/lumora-101.ico ${CMAKE_CURRENT_BINARY_DIR}/lumora-102.ico)
add_custom_command(OUTPUT ${LUMORA_ICONS}
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/make-icons.py ${CMAKE_CURRENT_BINARY_DIR}
  DEPENDS ${PROJECT_SOURCE_DIR}/scripts/make-icons.py
  COMMENT "Drawing the program's icons"
  VERBATIM)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(LUMORA_MANIFEST_ARCH amd64)
else()
  set(LUMORA_MANIFEST_ARCH x86)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/resources/lumora.manifest.in ${CMAKE_CURRENT_BINARY_DIR}/lumora.manifest @ONLY)
set(LUMORA_SHELL_RESOURCES ${CMAKE_CURRENT_LIST_DIR}/resources/lumora.rc)
set_source_files_properties(${LUMORA_SHELL_RESOURCES} PROPERTIES
  OBJECT_DEPENDS "${LUMORA_ICONS};${CMAKE_CURRENT_BINARY_DIR}/lumora.manifest"
  INCLUDE_DIRECTORIES "${CMAKE_CURRENT_BINARY_DIR};${CMAKE_CURRENT_LIST_DIR}/resources;${PROJECT_BINARY_DIR}/generated")
