#include "engine/setup_texts.h"

#include "engine/script.h"
#include "framework/portable/messages.h"

namespace qv::texts {

MessageTable& SetupTexts() {
  // In the order of Setup. The Chinese are the program's texts of old,
  // joined where a name or a file stood between two of them.
  static MessageTable table({
      {"DefaultTitle", kDefaultTitle, "Setup"},
      {"Register", kRegister, "Writing to the registry ..."},
      {"Execute", kExecute, "Running commands ..."},
      {"Shortcuts", kShortcuts, "Creating shortcuts ..."},
      {"AddToPath", kAddToPath, "Adding to PATH ..."},
      {"Undoing", kUndoing, "Undoing the installation ..."},
      {"Finished", kFinished, "Setup is complete."},
      {"FinishedRestart", kFinishedRestart, "Setup is complete. Restart to finish."},
      {"Prompt", std::string(kPromptBefore) + "%ENTRY%" + kPromptAfter, "Install %ENTRY% to:", "%ENTRY%"},
      {"Decompressing", std::string(kDecompressing) + "%FILE% ...", "Unpacking %FILE% ...", "%FILE%"},
      {"Warning", kWarning, "Warning"},
      {"EmptyPath", kEmptyPath, "Please enter an installation folder."},
      {"QuitQuestion", kQuitQuestion, "Setup is not finished. Quit now?"},
      {"NotFinished", kNotFinished, "Setup is not finished"},
      {"AboutCaption", kAboutCaption, "About..."},
      {"AboutText", kAboutText, kAboutText},
      {"BrowseTitle", kBrowseTitle, "Choose the installation folder"},
      {"VisitSite", std::string(kVisitSite) + "%URL%", "Visit %URL%", "%URL%"},
      {"BadOption", std::string(kBadOption) + "%OPTION%", "Invalid command-line option: %OPTION%", "%OPTION%"},
      {"PackageDamaged", kPackageDamaged, "This setup file is damaged. Please download it again."},
      {"UninstallQuestion", std::string(kUninstallQuestionBefore) + "%NAME%" + kUninstallQuestionAfter,
       "Do you want to uninstall %NAME%?", "%NAME%"},
      {"Removing", std::string(kRemoving) + "%FILE% ...", "Removing %FILE% ...", "%FILE%"},
      {"Unregister", kUnregister, "Removing registry entries ..."},
      {"Uninstalled", kUninstalled, "Uninstall is complete."},
      {"UninstallQuitQuestion", kUninstallQuitQuestion, "Uninstall is not finished. Quit now?"},
      {"RecordDamaged", kRecordDamaged, "The uninstall record is missing or damaged: nothing can be removed."},
      {"Needs64Bit", kNeeds64Bit, "This program needs 64-bit Windows and cannot be installed here."},
      {"NeedsAdministrator", kNeedsAdministrator, "Installing for all users needs administrator rights."},
      {"RecordNotTrusted", kRecordNotTrusted,
       "The uninstall record cannot be trusted, so nothing was removed. Install the program again, then uninstall "
       "it."},
      {"RunWithoutAdministrator", kRunWithoutAdministrator,
       "This program is installed for the current user only. Run this without administrator rights."},
  });
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
