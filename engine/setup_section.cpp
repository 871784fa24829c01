#include "engine/setup_section.h"

#include "engine/errors.h"
#include "engine/text.h"
#include "framework/portable/texts.h"

namespace qv {

SetupSection ReadSetupSection(const ScriptReader& script) {
  SetupSection s;
  const std::string scope = UpperCase(script.ReadString("SETUP", "Scope", ""));
  if (scope == "MACHINE") s.scope = Scope::Machine;
  else if (scope == "USER") s.scope = Scope::User;
  else if (scope == "AUTO") s.scope = Scope::Auto;
  else if (!scope.empty()) throw EngineError("[SETUP] Scope must be machine, user or auto, not " + scope);
  const std::string architecture = UpperCase(script.ReadString("SETUP", "Architecture", ""));
  if (architecture == "X64") s.architecture = Architecture::X64;
  else if (!architecture.empty() && architecture != "X86")
    throw EngineError("[SETUP] Architecture must be x86 or x64, not " + architecture);
  s.face = script.ReadString("SETUP", "Face", "");
  s.allowDowngrade = script.ReadBool("SETUP", "AllowDowngrade", false);
  s.runAfter = script.ReadString("SETUP", "RunAfter", "");
  s.language = script.ReadString("SETUP", "Language", "");
  if (!LanguageFor(s.language, false)) throw EngineError("[SETUP] Language must be zh, en or auto, not " + s.language);
  return s;
}

}  // namespace qv
