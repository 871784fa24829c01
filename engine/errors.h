#pragma once

#include <stdexcept>
#include <string>

namespace qv {

// A hard error that ends the run; its text goes into the error box.
class EngineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A packed file is not what the package's index says: the run stops and
// what it did is taken back.
class PackageDamagedError : public EngineError {
 public:
  using EngineError::EngineError;
};

// The product is installed in a newer version than the run's: the run
// stops before it writes anything.
class NewerInstalledError : public EngineError {
 public:
  using EngineError::EngineError;
};

// An update package run over anything but the installation it updates:
// stops before it writes anything.
class NotTheBaseError : public EngineError {
 public:
  using EngineError::EngineError;
};

}  // namespace qv
