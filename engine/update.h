// An update package: made from the package of one version of a product (its
// base), it installs only over that version's installation and takes the
// files it did not change from there as they are installed.
#pragma once

#include <string>

namespace qv {

// How a file an update installs comes from its base.
enum class FromBase { No, Kept, Patched };

enum class BaseCheck { Ok, NotTheBase, Failed };

class UpdateSource {
 public:
  virtual ~UpdateSource() = default;
  // The base's [UNINSTALL] Id and Version, as its script has them.
  virtual std::string BaseId() const = 0;
  virtual std::string BaseVersion() const = 0;
  // How `from` (a file the run installs, as the engine names it) comes from
  // the base: not at all, kept as installed, or patched against it.
  virtual FromBase BaseOf(const std::string& from) = 0;
  // Whether `installed` is the base file of `from` (its size and content);
  // a patched file's new content is made from it now, before anything is
  // written. Failed: it could not be made (LastError tells why).
  virtual BaseCheck TakeBase(const std::string& from, const std::string& installed) = 0;
};

}  // namespace qv
