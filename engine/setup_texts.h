// The installer's and the uninstaller's own texts: the window's, the
// log's defaults and the warnings. UTF-8, as every text the program keeps.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "framework/portable/texts.h"

namespace qv {
class ScriptReader;
}

namespace qv::texts {

inline constexpr char kDefaultTitle[] = "安装程序";
inline constexpr char kDefaultHref[] = "qvSetup,https://qvsetup.example.org/";
inline constexpr char kRegister[] = "Register...";
inline constexpr char kExecute[] = "Execute command ...";
inline constexpr char kShortcuts[] = "Create shortcuts ...";
inline constexpr char kAddToPath[] = "Add to PATH ...";
inline constexpr char kUndoing[] = "Undo installation ...";
inline constexpr char kFinished[] = "OK...完成安装";
inline constexpr char kFinishedRestart[] = "OK...完成安装，重新启动后生效";
inline constexpr char kPromptBefore[] = "请输入";
inline constexpr char kPromptAfter[] = "的安装路径...";
inline constexpr char kDecompressing[] = "Decompressing ";
inline constexpr char kWarning[] = "警告";
inline constexpr char kEmptyPath[] = "安装目录不能为空";
inline constexpr char kQuitQuestion[] = "安装尚未结束，是否立即退出?";
inline constexpr char kNotFinished[] = "安装尚未结束";
inline constexpr char kAboutCaption[] = "关于...";
// Program and version, web address, author and date, an empty line between.
inline constexpr char kAboutText[] =
    "qvSetup 1.0\r\rhttps://qvsetup.example.org/\r\rThe qvSetup developers, 2026-12";
inline constexpr char kBrowseTitle[] = "请选择安装文件夹";
inline constexpr char kVisitSite[] = "访问网站 ";
inline constexpr char kBadOption[] = "命令行参数无效：";
inline constexpr char kPackageDamaged[] = "安装包已损坏，请重新下载。";
inline constexpr char kUninstallQuestionBefore[] = "确定要卸载 ";
inline constexpr char kUninstallQuestionAfter[] = " 吗?";
inline constexpr char kRemoving[] = "Removing ";
inline constexpr char kUnregister[] = "Unregister...";
inline constexpr char kUninstalled[] = "OK...完成卸载";
inline constexpr char kUninstallQuitQuestion[] = "卸载尚未结束，是否立即退出?";
inline constexpr char kRecordDamaged[] = "卸载记录丢失或已损坏，无法卸载。";
inline constexpr char kNeeds64Bit[] = "此程序需要 64 位 Windows，无法在此系统上安装。";
inline constexpr char kNeedsAdministrator[] = "为所有用户安装需要管理员权限。";
inline constexpr char kRecordNotTrusted[] = "卸载记录不可信，未删除任何内容。请重新安装此程序后再卸载。";
inline constexpr char kRunWithoutAdministrator[] = "此程序仅为当前用户安装，请不要以管理员身份运行。";
inline constexpr char kNewerInstalled[] = "已安装较新的版本 %INSTALLED%，此安装程序为 %VERSION%，未做任何更改。";
inline constexpr char kInstalledForAll[] = "%NAME% 已为所有用户安装在 %FOLDER%。是否再为您自己安装一份？";
inline constexpr char kCloseApplications[] =
    "以下正在运行的程序正在使用安装程序需要替换的文件：\r\n%PROGRAMS%\r\n是否立即关闭它们？安装完成后会重新启动它们。";
inline constexpr char kNotTheBase[] =
    "此更新包只能安装在已安装的 %NAME% %VERSION% 上，本机不符合，未做任何更改。请使用完整的安装程序。";
inline constexpr char kInstalledForYou[] = "%NAME% 已仅为您安装在 %FOLDER%。是否再为所有用户安装？";
inline constexpr char kStartNow[] = "立即启动 %NAME%";

// What the run shows, by name: the Chinese above, or English, or what a
// script's [MESSAGES] section puts in their place. Count names no text: it
// is how many there are.
enum class Setup {
  DefaultTitle, Register, Execute, Shortcuts, AddToPath, Undoing, Finished, FinishedRestart, Prompt,
  Decompressing, Warning, EmptyPath, QuitQuestion, NotFinished, AboutCaption, AboutText, BrowseTitle, VisitSite,
  BadOption, PackageDamaged, UninstallQuestion, Removing, Unregister, Uninstalled, UninstallQuitQuestion,
  RecordDamaged, Needs64Bit, NeedsAdministrator, RecordNotTrusted, RunWithoutAdministrator,
  NewerInstalled, InstalledForAll, InstalledForYou, CloseApplications, NotTheBase, StartNow, Count,
};
MessageTable& SetupTexts();
inline const std::string& Say(Setup id) { return SetupTexts()[static_cast<std::size_t>(id)]; }

// A script's [MESSAGES] section: each name and the text to show instead.
std::vector<std::pair<std::string, std::string>> ReadMessages(const ScriptReader& script);

// Every table of texts a run shows, in one language, with a script's
// replacements (name, text); gives the names no table has. Kept for the
// record, so that the uninstaller speaks as the installation did.
using Replacements = std::vector<std::pair<std::string, std::string>>;
std::vector<std::string> UseTexts(Language language, const Replacements& replaced);
Language TextsLanguage();
const Replacements& TextsReplaced();

// The compiler must not have turned the literals into another code page.
static_assert(sizeof kDefaultTitle == 13 && static_cast<unsigned char>(kDefaultTitle[0]) == 0xE5,
              "setup_texts.h must compile as UTF-8");

}  // namespace qv::texts
