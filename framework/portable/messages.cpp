#include "framework/portable/messages.h"

namespace qv::texts {

MessageTable& DialogTexts() {
  // In the order of Dialog.
  static MessageTable table({
      {"Ok", kOk, "OK"},
      {"Cancel", kCancel, "Cancel"},
      {"Abort", kAbort, "Abort"},
      {"Retry", kRetry, "Retry"},
      {"Ignore", kIgnore, "Ignore"},
      {"Yes", kYes, "Yes"},
      {"No", kNo, "No"},
      {"Close", kClose, "Close"},
      {"DialogCaption", kDialogCaption, "Dialog"},
  });
  return table;
}

}  // namespace qv::texts
