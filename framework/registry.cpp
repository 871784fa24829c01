#include "framework/registry.h"

#include "framework/text_conv.h"

namespace qv {

namespace {

// The registry cuts a longer key path short (Wine) and would open, create
// or delete some other key.
constexpr std::size_t kMaxKeyPathUnits = 32766;

// A key with everything below it, each key in the view asked for: the
// system's RegDeleteTree opens the keys below without one, which would send
// them to the other view.
LONG DeleteTree(HKEY parent, const wchar_t* sub, REGSAM view) {
  {
    UniqueKey key;
    LONG rc = ::RegOpenKeyExW(parent, sub, 0, KEY_ENUMERATE_SUB_KEYS | view, key.Receive());
    if (rc != ERROR_SUCCESS) return rc;
    // Always the first one: each is gone before the next is asked for.
    for (wchar_t name[256];;) {
      DWORD n = static_cast<DWORD>(std::size(name));
      rc = ::RegEnumKeyExW(key.Get(), 0, name, &n, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_SUCCESS) rc = DeleteTree(key.Get(), name, view);
      if (rc != ERROR_SUCCESS) return rc;
    }
  }
  return ::RegDeleteKeyExW(parent, sub, view, 0);
}

}  // namespace

void TRegistry::SetRootKey(HKEY root) {
  if (root == root_) return;
  CloseKey();
  root_ = root;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  CloseKey();
  const std::wstring sub = Utf8ToWide((!key.empty() && key[0] == '\\') ? key.substr(1) : key);
  if (sub.size() > kMaxKeyPathUnits) return Failed(ERROR_FILENAME_EXCED_RANGE);
  HKEY h = nullptr;
  LONG rc;
  if (canCreate && !sub.empty()) {
    rc = ::RegCreateKeyExW(root_, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access_, nullptr,
                           &h, nullptr);
  } else {
    rc = ::RegOpenKeyExW(root_, sub.c_str(), 0, access_, &h);
  }
  if (rc != ERROR_SUCCESS) return Failed(rc);
  key_.Reset(h);
  return true;
}

bool TRegistry::Failed(LONG rc) {
  // The registry answers with its code; callers ask GetLastError.
  ::SetLastError(static_cast<DWORD>(rc));
  return false;
}

bool TRegistry::DeleteValue(const std::string& name) {
  if (!key_) return false;
  const LONG rc = ::RegDeleteValueW(key_.Get(), Utf8ToWide(name).c_str());
  return rc == ERROR_SUCCESS || Failed(rc);
}

std::optional<bool> TRegistry::KeyEmpty() const {
  DWORD subkeys = 0, values = 0;
  if (!key_ || ::RegQueryInfoKeyW(key_.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                  nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return std::nullopt;
  return subkeys == 0 && values == 0;
}

bool TRegistry::DeleteKey(const std::string& key, bool whole) {
  CloseKey();
  // As OpenKey names it: a leading backslash is dropped.
  const std::wstring sub = Utf8ToWide((!key.empty() && key[0] == '\\') ? key.substr(1) : key);
  if (sub.empty()) return Failed(ERROR_INVALID_PARAMETER);  // never the root itself
  if (sub.size() > kMaxKeyPathUnits) return Failed(ERROR_FILENAME_EXCED_RANGE);
  const REGSAM view = access_ & KEY_WOW64_RES;
  const LONG rc = whole ? DeleteTree(root_, sub.c_str(), view) : ::RegDeleteKeyExW(root_, sub.c_str(), view, 0);
  return rc == ERROR_SUCCESS || Failed(rc);
}

std::optional<DWORD> TRegistry::DataType(const std::string& name) const {
  DWORD type = 0;
  if (!key_ ||
      ::RegQueryValueExW(key_.Get(), Utf8ToWide(name).c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
    return std::nullopt;
  return type;
}

std::optional<std::string> TRegistry::ReadText(const std::string& name) const {
  const std::wstring wideName = Utf8ToWide(name);
  for (DWORD size = 520;;) {
    std::wstring buf(size / sizeof(wchar_t) + 1, L'\0');
    DWORD type = 0, got = size;
    const LONG rc = ::RegQueryValueExW(key_.Get(), wideName.c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(buf.data()), &got);
    if (rc == ERROR_MORE_DATA && got > size) {
      size = got;
      continue;
    }
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    buf.resize(got / sizeof(wchar_t));
    // Stored text usually carries its terminating zero; it is not part of it.
    const std::size_t z = buf.find(L'\0');
    if (z != std::wstring::npos) buf.resize(z);
    return WideToUtf8(buf);
  }
}

std::optional<std::pair<DWORD, std::vector<std::uint8_t>>> TRegistry::ReadData(const std::string& name) const {
  const std::wstring wideName = Utf8ToWide(name);
  for (DWORD size = 256;;) {
    std::vector<std::uint8_t> buf(size);
    DWORD type = 0, got = size;
    const LONG rc = key_ ? ::RegQueryValueExW(key_.Get(), wideName.c_str(), nullptr, &type, buf.data(), &got)
                         : ERROR_INVALID_HANDLE;
    if (rc == ERROR_MORE_DATA && got > size) {
      size = got;
      continue;
    }
    if (rc != ERROR_SUCCESS) return std::nullopt;
    buf.resize(got);
    return std::make_pair(type, std::move(buf));
  }
}

bool TRegistry::WriteData(const std::string& name, DWORD type, const std::vector<std::uint8_t>& data) {
  return key_ && ::RegSetValueExW(key_.Get(), Utf8ToWide(name).c_str(), 0, type, data.data(),
                                  static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool TRegistry::WriteText(const std::string& name, std::wstring_view text, DWORD type) {
  return key_ && ::RegSetValueExW(key_.Get(), Utf8ToWide(name).c_str(), 0, type,
                                  reinterpret_cast<const BYTE*>(text.data()),
                                  static_cast<DWORD>(text.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace qv
