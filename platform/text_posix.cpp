#include "platform/text.h"

namespace plat {

std::wstring FromAnsi(std::string_view bytes) { return FromUtf8(bytes); }

}  // namespace plat
