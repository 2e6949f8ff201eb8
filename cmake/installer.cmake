# Kestrune-<version>-x64.msi, from resources/installer/Kestrune.wxs.in, the registration scripts and the
# one list of the shell's handler keys (resources/installer/shell-keys.tsv); the version is the version
# resource's.
find_program(WIXL wixl REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)
# Debian's own python3, which has python3-olefile (a python3 of the user's PATH may lack it).
find_program(SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
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

set(sign_msi "")
if(KESTRUNE_SIGN)
  set(sign_msi COMMAND ${KESTRUNE_SIGN} ${KESTRUNE_MSI} ${KESTRUNE_SIGN_TIMESTAMP})
endif()

# The installer's sources and their rule's inputs; the tests build a later version from the same.
set(KESTRUNE_MAKE_MSI ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tools/make_msi.py
    --template ${CMAKE_SOURCE_DIR}/resources/installer/Kestrune.wxs.in
    --rc ${CMAKE_SOURCE_DIR}/resources/kestrune.rc
    --rgs ${KESTRUNE_RGS}
    --shell-keys ${KESTRUNE_SHELL_KEYS}
    --dll $<TARGET_FILE:Kestrune>
    --helper $<TARGET_FILE:kestrune-elevated>
    --icon ${RES_OUT}/kestrune.ico
    --epoch ${KESTRUNE_SOURCE_DATE_EPOCH}
    ${help_arguments})
set(KESTRUNE_MSI_INPUTS Kestrune kestrune-elevated ${help_dependencies} ${RES_OUT}/kestrune.ico ${KESTRUNE_EPOCH_FILE} ${KESTRUNE_RGS}
    ${KESTRUNE_SHELL_KEYS} ${CMAKE_SOURCE_DIR}/tools/make_msi.py ${CMAKE_SOURCE_DIR}/resources/installer/Kestrune.wxs.in
    ${CMAKE_SOURCE_DIR}/resources/kestrune.rc)

add_custom_command(
  OUTPUT ${KESTRUNE_MSI} ${CMAKE_BINARY_DIR}/installer/Kestrune.wxs
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/installer
  COMMAND ${KESTRUNE_MAKE_MSI} --wxs ${CMAKE_BINARY_DIR}/installer/Kestrune.wxs --msi-folder ${CMAKE_BINARY_DIR} >/dev/null
  ${sign_msi}
  DEPENDS ${KESTRUNE_MSI_INPUTS}
  COMMENT "Installer ${KESTRUNE_MSI}")
add_custom_target(kestrune_msi ALL DEPENDS ${KESTRUNE_MSI})
