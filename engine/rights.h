// What this run may do and who else may: its rights, the access lists of
// its own files, and the claim on a product that keeps other runs out.
#pragma once

#include <memory>
#include <string>

#include "engine/path.h"

namespace qv {

// Keeps other runs for one product (installations, uninstallers) from
// going on at the same time while it lives.
class ProductHold {
 public:
  virtual ~ProductHold() = default;
};

class Rights {
 public:
  virtual ~Rights() = default;

  // The run may change what every user relies on (elevated, or the system
  // account): nothing another account could have written may steer it.
  virtual bool Elevated() = 0;
  // An administrator's run without its administrator rights (a limited
  // token): the system gives them at a consent prompt.
  virtual bool LimitedAdministrator() = 0;
  // An elevated run of an account that also runs without its rights (a
  // split token): its unelevated programs can write what HKCU says.
  virtual bool LimitedHalf() = 0;
  // Nobody but this account, administrators and the system may change the
  // file, one of them owns it, and it is no link.
  virtual bool OnlyOursCanChange(const Path& path) = 0;
  // Gives a file an access list that lets nobody else change it (as above).
  virtual bool Protect(const Path& path) = 0;
  // Claims the product (its id) for this run; null while another run,
  // of any account, has claimed it.
  virtual std::unique_ptr<ProductHold> HoldProduct(const std::string& id) = 0;
};

}  // namespace qv
