// The object base and the notification types every layer shares.
#pragma once

#include <functional>

namespace qv {

class TObject {
 public:
  virtual ~TObject() = default;
};

// A notification: called with the object that raised it.
using TNotifyEvent = std::function<void(TObject* sender)>;

}  // namespace qv
