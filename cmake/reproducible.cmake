# The same bytes from any clone at any path on the same toolchain: one time stamps every output
# (SOURCE_DATE_EPOCH when set, else the last commit's time), the compilers write paths relative
# to the tree, and the linker writes no clock time into the PE headers.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(KESTRUNE_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -c safe.directory=* log -1 --format=%ct WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE KESTRUNE_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT KESTRUNE_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  file(TIMESTAMP ${CMAKE_SOURCE_DIR}/CMakeLists.txt KESTRUNE_SOURCE_DATE_EPOCH "%s" UTC)
  message(STATUS "No commit to take the time from: the outputs are stamped with CMakeLists.txt's time")
endif()
# Written only when the time changes: the outputs stamped with it depend on this file.
set(KESTRUNE_EPOCH_FILE ${CMAKE_BINARY_DIR}/source-date-epoch)
file(CONFIGURE OUTPUT ${KESTRUNE_EPOCH_FILE} CONTENT "${KESTRUNE_SOURCE_DATE_EPOCH}\n")
# Tools that read the clock themselves run through this, with the time and one locale whatever the
# user's (chmcmd's bytes differ between C and C.UTF-8).
set(KESTRUNE_AT_SOURCE_DATE ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH=${KESTRUNE_SOURCE_DATE_EPOCH})

add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.;-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
add_link_options(-Wl,--no-insert-timestamp)
