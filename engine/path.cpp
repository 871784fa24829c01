#include "engine/path.h"

#include "framework/portable/file_name_case.h"

namespace qv {

const std::string& Path::Key() const {
  Forms& f = Made();
  if (!f.keyed) {
    f.key = FileNameKey(text_);
    f.keyed = true;
  }
  return f.key;
}

}  // namespace qv
