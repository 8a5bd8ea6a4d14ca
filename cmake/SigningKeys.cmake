# Ed25519 key pairs for signed files (the engine update; any file whose
# signature a program checks against a public key built into it).
#
# meshdrop_development_key_pair(NAME <name> PRIVATE_KEY <var> PUBLIC_KEY_HEX <var>)
#
# Makes, once per build folder, a key pair for development and tests:
# ${CMAKE_BINARY_DIR}/signing-keys/<name>.pem (the private key, PEM, mode
# 0600; it lives in the build folder only and is never committed), and sets
# <var>s to that file's path and to the public key as 64 hexadecimal digits,
# the form a build passes into a program. A release build passes the
# publisher's public key instead and signs with a key kept elsewhere.
function(meshdrop_development_key_pair)
  cmake_parse_arguments(K "" "NAME;PRIVATE_KEY;PUBLIC_KEY_HEX" "" ${ARGN})
  find_program(MESHDROP_OPENSSL openssl REQUIRED)
  set(folder ${CMAKE_BINARY_DIR}/signing-keys)
  set(key ${folder}/${K_NAME}.pem)
  if(NOT EXISTS ${key})
    file(MAKE_DIRECTORY ${folder})
    execute_process(COMMAND ${MESHDROP_OPENSSL} genpkey -algorithm ed25519 -out ${key}
                    RESULT_VARIABLE made ERROR_VARIABLE error)
    if(NOT made EQUAL 0)
      message(FATAL_ERROR "cannot make the development key ${key}: ${error}")
    endif()
    file(CHMOD ${key} PERMISSIONS OWNER_READ OWNER_WRITE)
  endif()
  # The public key in DER: a 12-byte header, then the 32 bytes of the key.
  execute_process(COMMAND ${MESHDROP_OPENSSL} pkey -in ${key} -pubout -outform DER
                  OUTPUT_FILE ${folder}/${K_NAME}.pub.der RESULT_VARIABLE read ERROR_VARIABLE error)
  if(NOT read EQUAL 0)
    message(FATAL_ERROR "cannot read the development key ${key}: ${error}")
  endif()
  file(READ ${folder}/${K_NAME}.pub.der der HEX)
  string(LENGTH "${der}" digits)
  if(NOT digits EQUAL 88)
    message(FATAL_ERROR "${key} is no Ed25519 key")
  endif()
  string(SUBSTRING "${der}" 24 64 public)
  set(${K_PRIVATE_KEY} ${key} PARENT_SCOPE)
  set(${K_PUBLIC_KEY_HEX} ${public} PARENT_SCOPE)
endfunction()
