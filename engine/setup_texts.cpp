#include "engine/setup_texts.h"

#include "engine/script.h"
#include "framework/portable/messages.h"

namespace qv::texts {

namespace {

// The Chinese are the program's texts of old, joined where a name or a
// file stood between two of them.
constexpr auto kPrompt = Join(kPromptBefore, "%ENTRY%", kPromptAfter);
constexpr auto kDecompressingFile = Join(kDecompressing, "%FILE% ...");
constexpr auto kVisitUrl = Join(kVisitSite, "%URL%");
constexpr auto kBadOptionNamed = Join(kBadOption, "%OPTION%");
constexpr auto kUninstallQuestion = Join(kUninstallQuestionBefore, "%NAME%", kUninstallQuestionAfter);
constexpr auto kRemovingFile = Join(kRemoving, "%FILE% ...");

constexpr TextRow<Setup> kRows[] = {
    {Setup::DefaultTitle, "DefaultTitle", kDefaultTitle, "Setup"},
    {Setup::Register, "Register", kRegister, "Writing to the registry ..."},
    {Setup::Execute, "Execute", kExecute, "Running commands ..."},
    {Setup::Shortcuts, "Shortcuts", kShortcuts, "Creating shortcuts ..."},
    {Setup::AddToPath, "AddToPath", kAddToPath, "Adding to PATH ..."},
    {Setup::Undoing, "Undoing", kUndoing, "Undoing the installation ..."},
    {Setup::Finished, "Finished", kFinished, "Setup is complete."},
    {Setup::FinishedRestart, "FinishedRestart", kFinishedRestart, "Setup is complete. Restart to finish."},
    {Setup::Prompt, "Prompt", kPrompt.data(), "Install %ENTRY% to:", "%ENTRY%"},
    {Setup::Decompressing, "Decompressing", kDecompressingFile.data(), "Unpacking %FILE% ...", "%FILE%"},
    {Setup::Warning, "Warning", kWarning, "Warning"},
    {Setup::EmptyPath, "EmptyPath", kEmptyPath, "Please enter an installation folder."},
    {Setup::QuitQuestion, "QuitQuestion", kQuitQuestion, "Setup is not finished. Quit now?"},
    {Setup::NotFinished, "NotFinished", kNotFinished, "Setup is not finished"},
    {Setup::AboutCaption, "AboutCaption", kAboutCaption, "About..."},
    {Setup::AboutText, "AboutText", kAboutText, kAboutText},
    {Setup::BrowseTitle, "BrowseTitle", kBrowseTitle, "Choose the installation folder"},
    {Setup::VisitSite, "VisitSite", kVisitUrl.data(), "Visit %URL%", "%URL%"},
    {Setup::BadOption, "BadOption", kBadOptionNamed.data(), "Invalid command-line option: %OPTION%", "%OPTION%"},
    {Setup::PackageDamaged, "PackageDamaged", kPackageDamaged, "This setup file is damaged. Please download it again."},
    {Setup::UninstallQuestion, "UninstallQuestion", kUninstallQuestion.data(), "Do you want to uninstall %NAME%?",
     "%NAME%"},
    {Setup::Removing, "Removing", kRemovingFile.data(), "Removing %FILE% ...", "%FILE%"},
    {Setup::Unregister, "Unregister", kUnregister, "Removing registry entries ..."},
    {Setup::Uninstalled, "Uninstalled", kUninstalled, "Uninstall is complete."},
    {Setup::UninstallQuitQuestion, "UninstallQuitQuestion", kUninstallQuitQuestion,
     "Uninstall is not finished. Quit now?"},
    {Setup::RecordDamaged, "RecordDamaged", kRecordDamaged,
     "The uninstall record is missing or damaged: nothing can be removed."},
    {Setup::Needs64Bit, "Needs64Bit", kNeeds64Bit, "This program needs 64-bit Windows and cannot be installed here."},
    {Setup::NeedsAdministrator, "NeedsAdministrator", kNeedsAdministrator,
     "Installing for all users needs administrator rights."},
    {Setup::RecordNotTrusted, "RecordNotTrusted", kRecordNotTrusted,
     "The uninstall record cannot be trusted, so nothing was removed. Install the program again, then uninstall "
     "it."},
    {Setup::RunWithoutAdministrator, "RunWithoutAdministrator", kRunWithoutAdministrator,
     "This program is installed for the current user only. Run this without administrator rights."},
    {Setup::NewerInstalled, "NewerInstalled", kNewerInstalled,
     "A newer version (%INSTALLED%) is already installed; this setup holds %VERSION%. Nothing was changed.",
     "%INSTALLED% %VERSION%"},
    {Setup::InstalledForAll, "InstalledForAll", kInstalledForAll,
     "%NAME% is already installed for all users in %FOLDER%. Install a copy for yourself as well?", "%NAME% %FOLDER%"},
    {Setup::InstalledForYou, "InstalledForYou", kInstalledForYou,
     "%NAME% is already installed for you alone in %FOLDER%. Install it for all users as well?", "%NAME% %FOLDER%"},
    {Setup::CloseApplications, "CloseApplications", kCloseApplications,
     "These running programs use files that setup must replace:\r\n%PROGRAMS%\r\nClose them now? They are started "
     "again when setup is done.",
     "%PROGRAMS%"},
    {Setup::NotTheBase, "NotTheBase", kNotTheBase,
     "This update installs only over %NAME% %VERSION% as it was installed, which this computer does not have. "
     "Nothing was changed: use the full setup instead.",
     "%NAME% %VERSION%"},
    {Setup::StartNow, "StartNow", kStartNow, "Start %NAME% now", "%NAME%"},
};
static_assert(EachIdInItsRow(kRows), "each Setup text needs its row, in the enum's order");

}  // namespace

MessageTable& SetupTexts() {
  static MessageTable table(kRows);
  return table;
}

namespace {

Language g_language = Language::Chinese;
Replacements g_replaced;

}  // namespace

Language TextsLanguage() { return g_language; }
const Replacements& TextsReplaced() { return g_replaced; }

Replacements ReadMessages(const ScriptReader& script) {
  Replacements texts;
  for (const std::string& key : script.ReadSection("MESSAGES"))
    texts.emplace_back(script.NameForMachine(key), script.ReadText("MESSAGES", key, ""));
  return texts;
}

std::vector<std::string> UseTexts(Language language, const Replacements& replaced) {
  g_language = language;
  g_replaced = replaced;
  SetupTexts().Use(language);
  DialogTexts().Use(language);
  std::vector<std::string> unknown;
  for (const auto& [name, text] : replaced) {
    if (!SetupTexts().Replace(name, text) && !DialogTexts().Replace(name, text)) unknown.push_back(name);
  }
  return unknown;
}

}  // namespace qv::texts
