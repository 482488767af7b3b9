// Dotted version texts such as "8.0.1", compared part by part as decimal numbers.
#pragma once

#include "platform/wstr.h"

namespace engine {

// Compares `a` with `b`: negative when a is older, positive when newer, 0 when equal or
// not comparable. `comparable` is set to 1 only when both texts are non-empty and have the
// same number of parts. Parts are separated by dots, a run of dots counting as one ("8..0"
// is 8.0), and each is read like _wtoi ("8a" is 8, "x" is 0).
int CompareVersion(const WString& a, const WString& b, int& comparable);

}  // namespace engine
