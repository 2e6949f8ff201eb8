# Authenticode signatures, made when tools/build.sh runs with KESTRUNE_SIGN_PFX (a PKCS#12 file) and
# KESTRUNE_SIGN_PASSWORD set: the DLL, the elevated helper and the try host as they are linked, so that the MSI packs
# them signed, and the MSI once it is built. The certificate's path and the timestamp server are
# part of the commands, so that a change to either signs anew; the password is read when signing.
# Without a certificate nothing is signed and the outputs stay reproducible.
set(KESTRUNE_SIGN "")
if(NOT "$ENV{KESTRUNE_SIGN_PFX}" STREQUAL "")
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  set(KESTRUNE_SIGN ${CMAKE_SOURCE_DIR}/tools/sign.sh $ENV{KESTRUNE_SIGN_PFX})
endif()
set(KESTRUNE_SIGN_TIMESTAMP $ENV{KESTRUNE_SIGN_TIMESTAMP_URL}) # empty: no argument, no timestamp

function(kestrune_sign target)
  if(KESTRUNE_SIGN)
    add_custom_command(TARGET ${target} POST_BUILD COMMAND ${KESTRUNE_SIGN} $<TARGET_FILE:${target}> ${KESTRUNE_SIGN_TIMESTAMP}
                       COMMENT "Signing $<TARGET_FILE_NAME:${target}>")
  endif()
endfunction()
