# The manual, Kestrune.chm, beside Kestrune.dll. The project, contents and index files are kept in
# UTF-8 and handed to chmcmd as CP932: hhctrl reads them in the help file's code page (Japanese,
# 0x411). The topics stay UTF-8; each says so in its own header. chmcmd stamps the file with the
# time it reads itself: it runs on a clock stopped at the source's time (tools/frozen-clock.sh).
find_program(CHMCMD chmcmd REQUIRED)
set(HELP_SOURCE ${CMAKE_SOURCE_DIR}/resources/help)
set(HELP_OUT ${CMAKE_BINARY_DIR}/help)
file(MAKE_DIRECTORY ${HELP_OUT})
file(GLOB HELP_TOPICS CONFIGURE_DEPENDS ${HELP_SOURCE}/html/*)

add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/Kestrune.chm
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${HELP_SOURCE}/html ${HELP_OUT}/html
  COMMAND ${ICONV} -f UTF-8 -t CP932 ${HELP_SOURCE}/Kestrune.hhp -o ${HELP_OUT}/Kestrune.hhp
  COMMAND ${ICONV} -f UTF-8 -t CP932 ${HELP_SOURCE}/Kestrune.hhc -o ${HELP_OUT}/Kestrune.hhc
  COMMAND ${ICONV} -f UTF-8 -t CP932 ${HELP_SOURCE}/Kestrune.hhk -o ${HELP_OUT}/Kestrune.hhk
  COMMAND ${KESTRUNE_AT_SOURCE_DATE} ${CMAKE_SOURCE_DIR}/tools/frozen-clock.sh ${CHMCMD} --no-html-scan Kestrune.hhp > chmcmd.log
  COMMAND ${CMAKE_COMMAND} -E copy Kestrune.chm ${CMAKE_BINARY_DIR}/Kestrune.chm
  WORKING_DIRECTORY ${HELP_OUT}
  DEPENDS ${KESTRUNE_EPOCH_FILE} ${CMAKE_SOURCE_DIR}/tools/frozen-clock.sh ${HELP_SOURCE}/Kestrune.hhp ${HELP_SOURCE}/Kestrune.hhc ${HELP_SOURCE}/Kestrune.hhk ${HELP_TOPICS}
  COMMENT "Help file")
add_custom_target(kestrune_help ALL DEPENDS ${CMAKE_BINARY_DIR}/Kestrune.chm)
