// A path on its way to the machine. The engine names paths in UTF-8; the
// machine's calls want them in their own form (for Windows: UTF-16, full,
// maybe \\?\, maybe through Sysnative) and compare them by a name-case key.
// A Path carries each of those once made, and its copies share them, so
// that one file's path is converted once however many calls it goes
// through.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace qv {

class Path {
 public:
  Path() = default;
  Path(std::string text) : text_(std::move(text)) {}  // NOLINT: the engine's strings are paths
  Path(const char* text) : text_(text) {}             // NOLINT
  Path(const Path&) = default;
  Path& operator=(const Path&) = default;

  const std::string& Text() const { return text_; }
  operator const std::string&() const { return text_; }  // NOLINT
  operator std::string_view() const { return text_; }    // NOLINT
  bool empty() const { return text_.empty(); }

  // The name-case key (FileNameKey), made on first use.
  const std::string& Key() const;

  // The machine's own form, once its adapter made one for this view of
  // the machine; null before.
  const std::wstring* Native(unsigned view) const {
    return forms_ && forms_->made && forms_->view == view ? &forms_->native : nullptr;
  }
  // Keeps the machine's form made for a view.
  const std::wstring& KeepNative(unsigned view, std::wstring native) const {
    Forms& f = Made();
    f.native = std::move(native);
    f.view = view;
    f.made = true;
    return f.native;
  }

 private:
  struct Forms {
    std::string key;
    bool keyed = false;
    std::wstring native;
    unsigned view = 0;
    bool made = false;
  };
  Forms& Made() const {
    if (!forms_) forms_ = std::make_shared<Forms>();
    return *forms_;
  }

  std::string text_;
  mutable std::shared_ptr<Forms> forms_;
};

// Joined as text: a Path reads as its text wherever a line or a name is
// made of it.
inline std::string operator+(const Path& a, const std::string& b) { return a.Text() + b; }
inline std::string operator+(const Path& a, const char* b) { return a.Text() + b; }
inline std::string operator+(const std::string& a, const Path& b) { return a + b.Text(); }
inline std::string operator+(const char* a, const Path& b) { return a + b.Text(); }
inline std::string operator+(const Path& a, const Path& b) { return a.Text() + b.Text(); }

}  // namespace qv
