# Kestrune-<version>-x64.msi, from resources/installer/Kestrune.wxs.in, the registration scripts and the
# one list of the shell's handler keys (resources/installer/shell-keys.tsv); the version is the version
# resource's.
find_program(WIXL wixl REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)
file(STRINGS ${CMAKE_SOURCE_DIR}/resources/kestrune.rc version_line REGEX "^ *FILEVERSION")
string(REGEX REPLACE ".*FILEVERSION +([0-9]+),([0-9]+),([0-9]+),([0-9]+).*" "\\1.\\2.\\3.\\4"
       KESTRUNE_VERSION "${version_line}")
set(KESTRUNE_MSI ${CMAKE_BINARY_DIR}/Kestrune-${KESTRUNE_VERSION}-x64.msi)
set(KESTRUNE_SHELL_KEYS ${CMAKE_SOURCE_DIR}/resources/installer/shell-keys.tsv)
set(KESTRUNE_RGS
  ${CMAKE_SOURCE_DIR}/resources/hardlink.rgs
  ${CMAKE_SOURCE_DIR}/resources/reparsepoint.rgs
  ${CMAKE_SOURCE_DIR}/resources/operationhook.rgs
  ${CMAKE_SOURCE_DIR}/resources/propntfs.rgs)

set(help_arguments "")
set(help_dependencies "")
if(TARGET kestrune_help)
  set(help_arguments --help-file ${CMAKE_BINARY_DIR}/Kestrune.chm --help-file ${CMAKE_BINARY_DIR}/Kestrune-en.chm)
  set(help_dependencies kestrune_help ${CMAKE_BINARY_DIR}/Kestrune.chm ${CMAKE_BINARY_DIR}/Kestrune-en.chm)
endif()

add_custom_command(
  OUTPUT ${KESTRUNE_MSI} ${CMAKE_BINARY_DIR}/installer/Kestrune.wxs
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/installer
  COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tools/make_msi.py
          --template ${CMAKE_SOURCE_DIR}/resources/installer/Kestrune.wxs.in
          --rc ${CMAKE_SOURCE_DIR}/resources/kestrune.rc
          --rgs ${KESTRUNE_RGS}
          --shell-keys ${KESTRUNE_SHELL_KEYS}
          --dll $<TARGET_FILE:Kestrune>
          ${help_arguments}
          --wxs ${CMAKE_BINARY_DIR}/installer/Kestrune.wxs
          --msi-folder ${CMAKE_BINARY_DIR} >/dev/null
  DEPENDS Kestrune ${help_dependencies} ${KESTRUNE_RGS} ${KESTRUNE_SHELL_KEYS}
          ${CMAKE_SOURCE_DIR}/tools/make_msi.py ${CMAKE_SOURCE_DIR}/resources/installer/Kestrune.wxs.in
          ${CMAKE_SOURCE_DIR}/resources/kestrune.rc
  COMMENT "Installer ${KESTRUNE_MSI}")
add_custom_target(kestrune_msi ALL DEPENDS ${KESTRUNE_MSI})
