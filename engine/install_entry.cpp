#include "engine/install_entry.h"

#include "engine/text.h"

namespace qv {

InstallLine ParseInstallLine(std::string_view value) {
  InstallLine line;
  for (;;) {
    const std::size_t comma = value.rfind(',');
    // Source and destination stay: at least one comma before the word.
    if (comma == std::string_view::npos || value.substr(0, comma).find(',') == std::string_view::npos) break;
    const std::string word = UpperCase(Trim(value.substr(comma + 1)));
    if (word == "ONLYIFNEW") line.flags.onlyIfNew = true;
    else if (word == "KEEP") line.flags.keep = true;
    else if (word == "IFNEWER") line.flags.ifNewer = true;
    else break;
    value = value.substr(0, comma);
  }
  const Fields f = SplitField(value, ',', true);
  line.source = f.head;
  line.destination = f.tail;
  return line;
}

}  // namespace qv
