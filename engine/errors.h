#pragma once

#include <stdexcept>
#include <string>

namespace qv {

// A hard error that ends the run; its text goes into the error box.
class EngineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace qv
