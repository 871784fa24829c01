#include "framework/portable/messages.h"

namespace qv::texts {

namespace {

constexpr TextRow<Dialog> kRows[] = {
    {Dialog::Ok, "Ok", kOk, "OK"},
    {Dialog::Cancel, "Cancel", kCancel, "Cancel"},
    {Dialog::Abort, "Abort", kAbort, "Abort"},
    {Dialog::Retry, "Retry", kRetry, "Retry"},
    {Dialog::Ignore, "Ignore", kIgnore, "Ignore"},
    {Dialog::Yes, "Yes", kYes, "Yes"},
    {Dialog::No, "No", kNo, "No"},
    {Dialog::Close, "Close", kClose, "Close"},
    {Dialog::Caption, "DialogCaption", kDialogCaption, "Dialog"},
};
static_assert(EachIdInItsRow(kRows), "each Dialog text needs its row, in the enum's order");

}  // namespace

MessageTable& DialogTexts() {
  static MessageTable table(kRows);
  return table;
}

}  // namespace qv::texts
