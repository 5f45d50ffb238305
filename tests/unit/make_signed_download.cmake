# Writes a download as the signed Updater leaves it, for the start-up tests:
# an installer, the signed version file kept beside it, and the public key.
#   cmake -DOPENSSL=openssl -DDIR=out -P make_signed_download.cmake
file(MAKE_DIRECTORY "${DIR}")
set(key "${DIR}/key.pem")
execute_process(COMMAND "${OPENSSL}" ecparam -name prime256v1 -genkey -noout -out "${key}"
  RESULT_VARIABLE failed)
if(NOT failed)
  execute_process(COMMAND "${OPENSSL}" ec -in "${key}" -pubout -outform DER -out "${DIR}/key.der"
    RESULT_VARIABLE failed ERROR_QUIET)
endif()
if(failed)
  message(FATAL_ERROR "openssl could not make the test key")
endif()
file(WRITE "${DIR}/slwintool_set_up.exe" "MZ the setup program of 1.0.0.1\n")
file(SHA256 "${DIR}/slwintool_set_up.exe" hash)
set(body "LatestVersion=1.0.0.1\nURL=http://site/1.0.0.1/slwintool_set_up.exe\nSHA256=${hash}\n")
file(WRITE "${DIR}/body" "${body}")
execute_process(COMMAND "${OPENSSL}" dgst -sha256 -sign "${key}" -out "${DIR}/body.sig" "${DIR}/body"
  RESULT_VARIABLE failed)
if(NOT failed)
  execute_process(COMMAND "${OPENSSL}" base64 -A -in "${DIR}/body.sig"
    OUTPUT_VARIABLE signature OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
endif()
if(failed)
  message(FATAL_ERROR "openssl could not sign the test version file")
endif()
file(WRITE "${DIR}/latestversion.ini" "${body}Signature=${signature}\n")
file(REMOVE "${key}" "${DIR}/body" "${DIR}/body.sig")
