#include "engine/win32/access.h"

#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <wtsapi32.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "framework/text_conv.h"
#include "framework/windows_paths.h"

namespace qv::access {

namespace {

// A copy of a SID from a token, which the token's buffer does not outlive.
std::vector<std::uint8_t> CopySid(PSID sid) {
  const DWORD n = ::GetLengthSid(sid);
  std::vector<std::uint8_t> copy(n);
  ::CopySid(n, copy.data(), sid);
  return copy;
}

std::vector<std::uint8_t> TokenSid(TOKEN_INFORMATION_CLASS what) {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  const UniqueHandle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), what, nullptr, 0, &size);
  std::vector<std::uint8_t> buffer(size ? size : 1);
  if (!::GetTokenInformation(token.Get(), what, buffer.data(), size, &size)) return {};
  PSID sid = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                               : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
  return CopySid(sid);
}

std::vector<std::uint8_t> WellKnown(WELL_KNOWN_SID_TYPE type) {
  std::vector<std::uint8_t> sid(SECURITY_MAX_SID_SIZE);
  DWORD n = static_cast<DWORD>(sid.size());
  if (!::CreateWellKnownSid(type, nullptr, sid.data(), &n)) return {};
  sid.resize(n);
  return sid;
}

std::wstring SidText(const std::vector<std::uint8_t>& sid) {
  wchar_t* text = nullptr;
  if (sid.empty() || !::ConvertSidToStringSidW(const_cast<std::uint8_t*>(sid.data()), &text)) return {};
  const UniqueLocal owned(text);
  return text;
}

// This account (as user and as default owner), administrators, the system.
struct Trusted {
  std::vector<std::vector<std::uint8_t>> sids;
  Trusted() {
    for (auto sid : {TokenSid(TokenUser), TokenSid(TokenOwner), WellKnown(WinLocalSystemSid),
                     WellKnown(WinBuiltinAdministratorsSid)})
      if (!sid.empty()) sids.push_back(std::move(sid));
  }
  bool Has(PSID sid) const {
    for (const auto& s : sids)
      if (::EqualSid(const_cast<std::uint8_t*>(s.data()), sid)) return true;
    return false;
  }
};

const Trusted& Ours() {
  static const Trusted trusted;
  return trusted;
}

std::wstring Strip(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

// What the system calls a path: "." and ".." resolved, and short names
// made long where there may be one (a lookup per name, so only then).
std::wstring Canonical(const std::wstring& path) {
  const std::wstring full = FullPath(path);
  return full.find(L'~') == std::wstring::npos ? full : LongNames(full);
}

// How much of a full path names its volume: "C:" or "\\server\share".
std::size_t RootLength(const std::wstring& path) {
  if (path.size() >= 2 && path[1] == L':') return 2;
  if (path.rfind(L"\\\\", 0) != 0) return path.size();
  const std::size_t server = path.find(L'\\', 2);
  const std::size_t share = server == std::wstring::npos ? server : path.find(L'\\', server + 1);
  return share == std::wstring::npos ? path.size() : share;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::wstring FinalPath(HANDLE file, DWORD how) {
  // Most paths fit the first try: one question to the system, not two.
  std::wstring final(1024, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD n = ::GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()), how);
    if (n == 0) return {};
    if (n < final.size()) {
      final.resize(n);
      return final;
    }
    final.assign(n + 1, L'\0');
  }
  return {};
}

// Rights that change an object, its name or who may do so.
constexpr DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                GENERIC_ALL;

}  // namespace

bool Elevated() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  const UniqueHandle token(raw);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) &&
      elevation.TokenIsElevated)
    return true;
  const std::vector<std::uint8_t> user = TokenSid(TokenUser), system = WellKnown(WinLocalSystemSid);
  return !user.empty() && !system.empty() && ::EqualSid(const_cast<std::uint8_t*>(user.data()),
                                                        const_cast<std::uint8_t*>(system.data()));
}

std::wstring OwnDacl() {
  const std::wstring owner = SidText(TokenSid(TokenOwner));
  if (owner.empty()) return {};
  return L"D:P(A;OICI;FA;;;" + owner + L")(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
}

std::wstring PrivateDacl() {
  // The token's owner: the user, or administrators in an elevated run, so
  // the user's unelevated programs cannot write there. Nothing inherited.
  const std::wstring owner = SidText(TokenSid(TokenOwner));
  if (owner.empty()) return {};
  return L"D:P(A;OICI;FA;;;" + owner + L")(A;OICI;FA;;;SY)";
}

UniqueLocal Descriptor(const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (sddl.empty() ||
      !::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return UniqueLocal();
  return UniqueLocal(descriptor);
}

bool Protect(const std::wstring& path) {
  const UniqueLocal descriptor = Descriptor(OwnDacl());
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (!descriptor || !::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted)) return false;
  std::wstring name = path;
  return ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                 dacl, nullptr) == ERROR_SUCCESS;
}

bool ReachedDirectly(HANDLE file, const std::wstring& path) {
  // The path the handle has against the one asked for: a link anywhere on
  // the way makes them differ.
  const std::wstring wanted = Strip(WithoutPrefix(Canonical(path)));
  // Below a drive letter, the path from the volume's top is enough and
  // quick to have; a drive's DOS name costs the mount manager a question.
  const std::wstring below = FinalPath(file, VOLUME_NAME_NONE);
  if (wanted.size() > 2 && wanted[1] == L':' && !below.empty() && SameName(Strip(below), wanted.substr(2)))
    return true;
  const std::wstring final = FinalPath(file, VOLUME_NAME_DOS);
  if (final.empty()) return false;
  if (SameName(Strip(WithoutPrefix(final)), wanted)) return true;
  // A share reached by another name (a DFS namespace) has another name for
  // its top: compare from there down. Only from the path's own top: a
  // volume mounted in a folder on the way is a link like any other.
  std::wstring volume(wanted.size() + 2, L'\0');
  if (below.empty() || !::GetVolumePathNameW(wanted.c_str(), volume.data(), static_cast<DWORD>(volume.size())))
    return false;
  volume.resize(std::wcslen(volume.c_str()));
  if (volume.size() != RootLength(wanted) + 1 || !SameName(Strip(volume), wanted.substr(0, RootLength(wanted))))
    return false;
  return SameName(Strip(below), Strip(L"\\" + wanted.substr(volume.size())));
}

bool OnlyOurs(HANDLE file, Grants what) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  const UniqueLocal owned(descriptor);
  // No access list at all lets everybody in.
  if (!owner || !dacl || !Ours().Has(owner)) return false;
  const DWORD rights = what == Grants::Change ? kChangeRights : ~DWORD{0};
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    if (!::GetAce(dacl, i, reinterpret_cast<void**>(&ace))) return false;
    if (ace->AceFlags & INHERIT_ONLY_ACE) continue;  // for what is made inside, not for this
    if (ace->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;  // a kind we do not read: not ours
    const auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & rights) && !Ours().Has(const_cast<DWORD*>(&allowed->SidStart))) return false;
  }
  return true;
}

namespace {

TOKEN_ELEVATION_TYPE TypeOf(HANDLE token) {
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  return ::GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) ? type
                                                                                      : TokenElevationTypeDefault;
}

bool LimitedToken(HANDLE token) { return TypeOf(token) == TokenElevationTypeLimited; }

std::vector<std::uint8_t> UserOf(HANDLE token) {
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<std::uint8_t> buffer(size ? size : 1);
  if (!::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return {};
  return CopySid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

UniqueHandle PrimaryCopy(HANDLE token) {
  UniqueHandle primary;
  if (!::DuplicateTokenEx(token, TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                                     TOKEN_ADJUST_SESSIONID,
                          nullptr, SecurityImpersonation, TokenPrimary, primary.Receive()))
    return UniqueHandle();
  return primary;
}

}  // namespace

namespace {

// 128 random bits kept where only administrators and the system may read
// them, made by the first elevated run that asks. Only they can make keys
// in HKLM\\Software: nobody else can have made this one first.
std::wstring AdministratorsSecret() {
  const UniqueLocal descriptor = Descriptor(L"D:P(A;CI;KA;;;BA)(A;CI;KA;;;SY)");
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.Get(), FALSE};
  UniqueKey key;
  if (!descriptor || ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\qvSetup", 0, nullptr, 0,
                                       KEY_QUERY_VALUE | KEY_SET_VALUE, &security, key.Receive(),
                                       nullptr) != ERROR_SUCCESS)
    return {};
  unsigned char bits[16];
  DWORD size = sizeof bits, type = 0;
  if (::RegQueryValueExW(key.Get(), L"Lock", nullptr, &type, bits, &size) != ERROR_SUCCESS || type != REG_BINARY ||
      size != sizeof bits) {
    if (!::RtlGenRandom(bits, sizeof bits) ||
        ::RegSetValueExW(key.Get(), L"Lock", 0, REG_BINARY, bits, sizeof bits) != ERROR_SUCCESS)
      return {};
  }
  std::wstring text;
  for (unsigned char b : bits)
    for (int shift : {4, 0}) text += L"0123456789ABCDEF"[(b >> shift) & 15];
  return text;
}

}  // namespace

TOKEN_ELEVATION_TYPE ElevationType() {
  UniqueHandle own;
  return ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, own.Receive()) ? TypeOf(own.Get())
                                                                               : TokenElevationTypeDefault;
}

UniqueHandle LimitedHalfToken() {
  UniqueHandle own;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, own.Receive())) return UniqueHandle();
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (::GetTokenInformation(own.Get(), TokenLinkedToken, &linked, sizeof linked, &size)) {
    const UniqueHandle half(linked.LinkedToken);
    // Handed out for identification only unless the system trusts us more.
    if (UniqueHandle primary = PrimaryCopy(half.Get()); primary && LimitedToken(primary.Get())) return primary;
  }
  // The shell's: the person's own programs start with it.
  DWORD shellProcess = 0;
  const HWND shell = ::GetShellWindow();
  if (!shell || !::GetWindowThreadProcessId(shell, &shellProcess)) return UniqueHandle();
  const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcess));
  UniqueHandle token;
  if (!process || !::OpenProcessToken(process.Get(), TOKEN_QUERY | TOKEN_DUPLICATE, token.Receive()))
    return UniqueHandle();
  const std::vector<std::uint8_t> user = UserOf(token.Get()), self = UserOf(own.Get());
  if (user.empty() || user != self || !LimitedToken(token.Get())) return UniqueHandle();
  return PrimaryCopy(token.Get());
}

namespace {

// Neither elevated nor the system account: a token a person's own
// programs run with.
bool PersonsToken(HANDLE token) {
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) || elevation.TokenIsElevated)
    return false;
  std::vector<std::uint8_t> user = UserOf(token), system = WellKnown(WinLocalSystemSid);
  return !user.empty() && !system.empty() && !::EqualSid(user.data(), system.data());
}

}  // namespace

UniqueHandle PersonToken() {
  DWORD shellProcess = 0;
  const HWND shell = ::GetShellWindow();
  if (shell && ::GetWindowThreadProcessId(shell, &shellProcess)) {
    const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcess));
    UniqueHandle token;
    if (process && ::OpenProcessToken(process.Get(), TOKEN_QUERY | TOKEN_DUPLICATE, token.Receive()) &&
        PersonsToken(token.Get()))
      return PrimaryCopy(token.Get());
  }
  // The system account in a session without a shell (a deployment tool's
  // service): the person logged on at the console, if any.
  const std::vector<std::uint8_t> self = TokenSid(TokenUser), system = WellKnown(WinLocalSystemSid);
  if (!self.empty() && !system.empty() &&
      ::EqualSid(const_cast<std::uint8_t*>(self.data()), const_cast<std::uint8_t*>(system.data()))) {
    UniqueHandle token;
    const DWORD session = ::WTSGetActiveConsoleSessionId();
    if (session != 0xFFFFFFFF && ::WTSQueryUserToken(session, token.Receive()) && PersonsToken(token.Get()))
      return token;
  }
  ::SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
  return UniqueHandle();
}

std::unique_ptr<Lock> Lock::Take(const std::wstring& name) {
  const UniqueLocal descriptor = Descriptor(L"D:P(A;;GA;;;BA)(A;;GA;;;SY)");
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.Get(), FALSE};
  if (!Elevated()) {
    // Nobody else's: this account's own name in this session, and an access
    // list that lets no other account open it.
    const std::wstring user = SidText(TokenSid(TokenUser));
    const UniqueLocal own = Descriptor(L"D:P(A;;GA;;;" + user + L")(A;;GA;;;SY)");
    if (user.empty() || !own) return nullptr;
    SECURITY_ATTRIBUTES mine{sizeof mine, own.Get(), FALSE};
    UniqueHandle mutex(::CreateMutexW(&mine, FALSE, (L"Local\\" + user + L"-" + name).c_str()));
    if (!mutex || ::GetLastError() == ERROR_ALREADY_EXISTS) return nullptr;
    return std::unique_ptr<Lock>(new Lock(nullptr, std::move(mutex)));
  }
  if (!descriptor) return nullptr;
  // A boundary of the administrators' group: a program whose token does not
  // hold it enabled can neither make this namespace nor open it.
  HANDLE boundary = ::CreateBoundaryDescriptorW(L"qvSetup", 0);
  if (!boundary) {
    // A system without private namespaces (Wine): a global name that
    // holds a secret only administrators can read.
    const std::wstring secret = AdministratorsSecret();
    if (secret.empty()) return nullptr;
    UniqueHandle mutex(::CreateMutexW(&security, FALSE, (L"Global\\qvSetup-" + secret + L"-" + name).c_str()));
    if (!mutex || ::GetLastError() == ERROR_ALREADY_EXISTS) return nullptr;
    return std::unique_ptr<Lock>(new Lock(nullptr, std::move(mutex)));
  }
  std::vector<std::uint8_t> administrators = WellKnown(WinBuiltinAdministratorsSid);
  HANDLE space = nullptr;
  if (!administrators.empty() && ::AddSIDToBoundaryDescriptor(&boundary, administrators.data())) {
    space = ::CreatePrivateNamespaceW(&security, boundary, L"qvSetup");
    if (!space && ::GetLastError() == ERROR_ALREADY_EXISTS) space = ::OpenPrivateNamespaceW(boundary, L"qvSetup");
  }
  ::DeleteBoundaryDescriptor(boundary);
  if (!space) return nullptr;
  UniqueHandle mutex(::CreateMutexW(&security, FALSE, (L"qvSetup\\" + name).c_str()));
  if (!mutex || ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::ClosePrivateNamespace(space, 0);
    return nullptr;
  }
  return std::unique_ptr<Lock>(new Lock(space, std::move(mutex)));
}

Lock::~Lock() {
  mutex_.Reset();
  if (space_) ::ClosePrivateNamespace(space_, 0);
}

UniqueFile OpenNoFollow(const std::wstring& path, DWORD access) {
  return UniqueFile(::CreateFileW(path.c_str(), access | READ_CONTROL | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

}  // namespace qv::access
