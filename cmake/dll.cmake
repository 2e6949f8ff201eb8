# The type library, icons and resources, and the thin Kestrune.dll over the library.
set(RES_OUT ${CMAKE_BINARY_DIR}/resources)
file(MAKE_DIRECTORY ${RES_OUT})
find_program(WIDL x86_64-w64-mingw32-widl REQUIRED)
find_program(ICONV iconv REQUIRED)
find_program(PYTHON3 python3 REQUIRED)

# The IDL is kept in UTF-8 and fed to widl as CP932: type-library strings are read back in the
# ANSI code page, so the Japanese help string survives only this way.
add_custom_command(
  OUTPUT ${RES_OUT}/kestrune-widl.tlb ${RES_OUT}/kestrune_h.h ${RES_OUT}/kestrune_i.c
  COMMAND ${ICONV} -f UTF-8 -t CP932 ${CMAKE_SOURCE_DIR}/resources/kestrune.idl -o ${RES_OUT}/kestrune.idl
  COMMAND ${WIDL} -I /usr/include/wine/wine/windows -L /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
          -t -T kestrune-widl.tlb -h -H kestrune_h.h -u -U kestrune_i.c kestrune.idl
  WORKING_DIRECTORY ${RES_OUT}
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/kestrune.idl
  COMMENT "Type library and interface header")
# The library carries widl's clock time: the source's replaces it in a copy, so that a new commit
# rebuilds the resources only, not the code that includes the header.
add_custom_command(
  OUTPUT ${RES_OUT}/kestrune.tlb
  COMMAND ${KESTRUNE_AT_SOURCE_DATE} ${PYTHON3} ${CMAKE_SOURCE_DIR}/tools/stamp_typelib.py kestrune-widl.tlb kestrune.tlb
  WORKING_DIRECTORY ${RES_OUT}
  DEPENDS ${RES_OUT}/kestrune-widl.tlb ${CMAKE_SOURCE_DIR}/tools/stamp_typelib.py ${KESTRUNE_EPOCH_FILE}
  COMMENT "Type library stamped with the source's time")

add_custom_command(
  OUTPUT ${RES_OUT}/kestrune.ico ${RES_OUT}/hardlink-overlay.ico ${RES_OUT}/reparse-overlay.ico
  COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tools/make_icons.py ${RES_OUT}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/make_icons.py
  COMMENT "Icons")

add_custom_command(
  OUTPUT ${RES_OUT}/busy.avi
  COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tools/make_busy_avi.py ${RES_OUT}/busy.avi
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/make_busy_avi.py
  COMMENT "Busy animation")

add_custom_target(kestrune_generated DEPENDS
  ${RES_OUT}/kestrune.tlb ${RES_OUT}/kestrune_h.h ${RES_OUT}/kestrune_i.c
  ${RES_OUT}/kestrune.ico ${RES_OUT}/hardlink-overlay.ico ${RES_OUT}/reparse-overlay.ico
  ${RES_OUT}/busy.avi)

target_sources(kestrune_core PRIVATE ${RES_OUT}/kestrune_i.c)
target_include_directories(kestrune_core PUBLIC ${RES_OUT})
add_dependencies(kestrune_core kestrune_generated)

# The resources as one object, linked into the DLL and into the tests that load strings.
add_library(kestrune_resources OBJECT resources/kestrune.rc)
target_include_directories(kestrune_resources PRIVATE ${RES_OUT} ${CMAKE_SOURCE_DIR}/resources)
set_source_files_properties(resources/kestrune.rc PROPERTIES
  OBJECT_DEPENDS "${RES_OUT}/kestrune.tlb;${RES_OUT}/kestrune.ico;${RES_OUT}/busy.avi;${CMAKE_SOURCE_DIR}/resources/hardlink.rgs;${CMAKE_SOURCE_DIR}/resources/kestrune.manifest")
add_dependencies(kestrune_resources kestrune_generated)

add_library(Kestrune SHARED server/exports.cpp resources/kestrune.def $<TARGET_OBJECTS:kestrune_resources>)
set_target_properties(Kestrune PROPERTIES PREFIX "" OUTPUT_NAME Kestrune)
target_compile_options(Kestrune PRIVATE ${KESTRUNE_WARNINGS} ${KESTRUNE_HARDENING} -fno-exceptions -fno-rtti)
target_link_options(Kestrune PRIVATE ${KESTRUNE_STATIC_RUNTIME} ${KESTRUNE_LINK_HARDENING})
target_link_libraries(Kestrune PRIVATE kestrune_core)

# Explorer gets the DLL without its debug information (1.3 MB with, 230 KB without): the
# information stays beside it in Kestrune.dll.debug, which gdb finds through the debug link.
# objcopy stamps the PE headers with SOURCE_DATE_EPOCH or the clock: 0, as the linker leaves them.
find_program(MINGW_OBJCOPY x86_64-w64-mingw32-objcopy REQUIRED)
add_custom_command(TARGET Kestrune POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${MINGW_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:Kestrune> $<TARGET_FILE_NAME:Kestrune>.debug
  COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${MINGW_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:Kestrune>.debug $<TARGET_FILE_NAME:Kestrune>
  WORKING_DIRECTORY $<TARGET_FILE_DIR:Kestrune>
  COMMENT "Debug information of Kestrune.dll into Kestrune.dll.debug")
kestrune_sign(Kestrune)
