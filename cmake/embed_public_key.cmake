# Writes a C++ source that holds the update-signing public key's bytes.
#   cmake -DKEY=pub.der|"" -DOUT=key.cpp -P embed_public_key.cmake
# KEY must be a P-256 public key as `openssl ec -pubout -outform DER` writes
# it (a 91-byte SubjectPublicKeyInfo); an empty KEY embeds no key.
set(bytes "")
if(KEY)
  if(NOT EXISTS "${KEY}")
    message(FATAL_ERROR "SL_UPDATE_PUBLIC_KEY: ${KEY} does not exist")
  endif()
  file(READ "${KEY}" hex HEX)
  string(LENGTH "${hex}" length)
  set(prefix "3059301306072a8648ce3d020106082a8648ce3d030107034200")
  string(SUBSTRING "${hex}" 0 52 head)
  if(NOT length EQUAL 182 OR NOT head STREQUAL prefix)
    message(FATAL_ERROR "SL_UPDATE_PUBLIC_KEY: ${KEY} is no P-256 public key in DER "
                        "(make it with: openssl ec -in key.pem -pubout -outform DER -out pub.der)")
  endif()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
endif()
file(WRITE "${OUT}.new" "// Generated from the update-signing public key; do not edit.
#include <cstdint>
#include <vector>

#include \"updater/public_key.h\"

namespace updater {

std::vector<std::uint8_t> UpdatePublicKey() { return {${bytes}}; }

}  // namespace updater
")
# Unchanged output keeps its time stamp, so nothing is rebuilt for nothing.
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
