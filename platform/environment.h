// Settings that tests and benchmarks give the programs through the
// environment (time limits, attempts); the programs never need them.
#pragma once

#include <optional>

namespace plat {

// The whole decimal number in variable `name`, when it lies in [low, high].
std::optional<long> EnvNumber(const char* name, long low, long high);

}  // namespace plat
