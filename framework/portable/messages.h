// The framework's own texts: the message dialog's captions and buttons.
// UTF-8, as every text the program keeps; the source file is UTF-8 and the
// compilers' execution character set is UTF-8 too. The constants are the
// Chinese texts; what a window shows comes from Say, in the run's language.
#pragma once

#include <string>

#include "framework/portable/texts.h"

namespace qv::texts {

inline constexpr char kOk[] = "确定";
inline constexpr char kCancel[] = "取消";
inline constexpr char kAbort[] = "终止";
inline constexpr char kRetry[] = "重试";
inline constexpr char kIgnore[] = "忽略";
inline constexpr char kYes[] = "是";
inline constexpr char kNo[] = "否";
inline constexpr char kClose[] = "关闭";
inline constexpr char kDialogCaption[] = "对话框";

// The compiler must not have turned the literals into another code page.
static_assert(sizeof kOk == 7 && static_cast<unsigned char>(kOk[0]) == 0xE7, "messages.h must compile as UTF-8");

// Count names no text: it is how many there are.
enum class Dialog { Ok, Cancel, Abort, Retry, Ignore, Yes, No, Close, Caption, Count };
MessageTable& DialogTexts();
inline const std::string& Say(Dialog id) { return DialogTexts()[static_cast<std::size_t>(id)]; }

}  // namespace qv::texts
