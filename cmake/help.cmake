# The manuals beside Kestrune.dll: Kestrune.chm (Japanese) and Kestrune-en.chm (English), the
# same pages and index. hhctrl reads the project, contents and index files in the help file's
# code page: the Japanese ones are kept in UTF-8 and handed to chmcmd as CP932, the English ones
# are ASCII. The topics stay UTF-8; each says so in its own header.
# chmcmd stamps each file with the time it reads itself: it runs on a clock stopped at the
# source's time (tools/frozen-clock.sh).
find_program(CHMCMD chmcmd REQUIRED)

# Both manuals share the Japanese one's style sheet.
set(shared_style ${CMAKE_SOURCE_DIR}/resources/help/html/kestrune.css)
function(kestrune_manual target source chm charset)
  set(out ${CMAKE_BINARY_DIR}/help/${target})
  file(MAKE_DIRECTORY ${out})
  file(GLOB topics CONFIGURE_DEPENDS ${source}/html/*)
  set(project_files)
  foreach(part hhp hhc hhk)
    list(APPEND project_files COMMAND ${ICONV} -f UTF-8 -t ${charset} ${source}/Kestrune.${part} -o ${out}/Kestrune.${part})
  endforeach()
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/${chm}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${source}/html ${out}/html
    COMMAND ${CMAKE_COMMAND} -E copy ${shared_style} ${out}/html/kestrune.css
    ${project_files}
    COMMAND ${KESTRUNE_AT_SOURCE_DATE} ${CMAKE_SOURCE_DIR}/tools/frozen-clock.sh ${CHMCMD} --no-html-scan Kestrune.hhp > chmcmd.log
    COMMAND ${CMAKE_COMMAND} -E copy ${chm} ${CMAKE_BINARY_DIR}/${chm}
    WORKING_DIRECTORY ${out}
    DEPENDS ${KESTRUNE_EPOCH_FILE} ${CMAKE_SOURCE_DIR}/tools/frozen-clock.sh ${source}/Kestrune.hhp ${source}/Kestrune.hhc ${source}/Kestrune.hhk ${topics} ${shared_style}
    COMMENT "Help file ${chm}")
  add_custom_target(${target} ALL DEPENDS ${CMAKE_BINARY_DIR}/${chm})
endfunction()

kestrune_manual(kestrune_help_ja ${CMAKE_SOURCE_DIR}/resources/help Kestrune.chm CP932)
kestrune_manual(kestrune_help_en ${CMAKE_SOURCE_DIR}/resources/help/en Kestrune-en.chm ASCII)
add_custom_target(kestrune_help ALL DEPENDS kestrune_help_ja kestrune_help_en)
