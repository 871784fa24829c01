// Failure-message printers for the skin rules' small types; found by
// argument lookup, so they live in the types' namespace.
#pragma once

#include <ostream>

#include "skin/skin_types.h"

namespace qv::skin {

inline std::ostream& operator<<(std::ostream& os, const Rect& r) {
  return os << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
}
inline std::ostream& operator<<(std::ostream& os, const Point& p) {
  return os << "(" << p.x << "," << p.y << ")";
}

}  // namespace qv::skin
