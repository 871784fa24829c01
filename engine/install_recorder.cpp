#include "install_recorder.h"

#include <algorithm>

#include "errors.h"
#include "folders.h"
#include "logging_platform.h"
#include "file_name_case.h"
#include "text.h"

namespace qv {

namespace {

std::vector<std::uint8_t> TextData(const std::string& text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

std::vector<std::uint8_t> DwordData(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}

std::string WithBackslash(std::string folder) {
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder;
}

std::string WithoutBackslash(std::string folder) {
  // A drive's root keeps its backslash.
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  return folder;
}

}  // namespace

void InstallRecorder::Add(RecordEntry entry) {
  pending_ += EncodeRecordEntry(entry);
  all_.push_back(std::move(entry));
}

void InstallRecorder::CannotWrite() {
  const Error e = Inner().LastError();
  throw EngineError("The uninstall record cannot be written: " + folder_ + kRecordName + " (error " +
                    std::to_string(e.code) + ")");
}

bool WriteSeal(Platform& platform, const Product& product, const RecordSeal& seal) {
  return platform.WriteRegistryValue(product.registrationRoot, kRegistrationKey + product.id, kSealValue,
                                     RegType::Text, TextData(EncodeSeal(seal))) == RegWrite::Written;
}

void InstallRecorder::Seal(const RecordSeal::Mark& before, const RecordSeal::Mark& now) {
  if (!WriteSeal(quiet_, product_, {before, now})) CannotWrite();
}

void InstallRecorder::Commit() {
  if (!file_ || pending_.empty()) return;
  // The seal first: a line on disk that the seal does not cover is
  // somebody else's.
  Sha256 next = hash_;
  next.Update(pending_);
  const RecordSeal::Mark now{sealed_.length + pending_.size(), next.Peek()};
  Seal(sealed_, now);
  if (!file_->Append(pending_)) CannotWrite();
  hash_ = next;
  sealed_ = now;
  pending_.clear();
}

bool InstallRecorder::MakeFolder(const std::string& path) {
  if (!recording_) return Inner().MakeFolder(path);
  Commit();
  const bool made = Inner().MakeFolder(path);
  if (made) {
    RecordEntry e;
    e.kind = RecordEntry::Kind::Folder;
    e.path = path;
    Add(std::move(e));
  }
  return made;
}

void InstallRecorder::WillWrite(const std::vector<std::string>& paths) {
  if (!recording_) return;
  for (const std::string& path : paths) {
    RecordEntry e;
    e.kind = RecordEntry::Kind::FileStart;
    e.path = path;
    e.existed = Inner().Attributes(path) != kNoAttributes;
    announced_[FileNameKey(path)] = {path, e.existed};
    Add(std::move(e));
  }
  Commit();
}

template <typename Write>
bool InstallRecorder::RecordFile(const std::string& to, Write write) {
  if (!recording_) return write();
  RecordEntry e;
  e.path = to;
  const auto announced = announced_.find(FileNameKey(to));
  if (announced != announced_.end()) {
    e.existed = announced->second.existed;
    announced_.erase(announced);
  } else {
    e.kind = RecordEntry::Kind::FileStart;
    e.existed = Inner().Attributes(to) != kNoAttributes;
    Add(e);
    // On disk before the file is: a run stopped while writing it still
    // leaves it to the uninstaller.
    Commit();
  }
  const bool written = write();
  const std::optional<FileStamp> stamp = written ? Inner().Stamp(to) : std::nullopt;
  e.kind = stamp ? RecordEntry::Kind::File : RecordEntry::Kind::Unwritten;
  if (stamp) {
    e.size = stamp->size;
    e.modified = stamp->modified;
  }
  Add(std::move(e));
  return written;
}

bool InstallRecorder::CopyOneFile(const std::string& from, const std::string& to) {
  return RecordFile(to, [&] { return Inner().CopyOneFile(from, to); });
}

bool InstallRecorder::WriteFileFrom(const std::string& to, std::uint32_t attributes, std::uint64_t modified,
                                    const FileProducer& produce) {
  return RecordFile(to, [&] { return Inner().WriteFileFrom(to, attributes, modified, produce); });
}

RegWrite InstallRecorder::WriteRegistryValue(std::uint32_t root, const std::string& subkey, const std::string& name,
                                             RegType type, const std::vector<std::uint8_t>& data) {
  if (!recording_ || root == 0) return Inner().WriteRegistryValue(root, subkey, name, type, data);
  const RegistryPresence before = Inner().FindRegistryValue(root, subkey, name);
  // The keys the write will create, from the top down.
  std::vector<std::string> created;
  if (!before.key && !subkey.empty()) {
    std::string key = subkey;
    for (;;) {
      created.push_back(key);
      const std::size_t cut = key.rfind('\\');
      if (cut == std::string::npos || cut == 0) break;
      key.resize(cut);
      if (Inner().FindRegistryValue(root, key, "").key) break;
    }
    std::reverse(created.begin(), created.end());
  }
  for (const std::string& key : created) {
    RecordEntry e;
    e.kind = RecordEntry::Kind::Key;
    e.root = root;
    e.path = key;
    Add(std::move(e));
  }
  RecordEntry e;
  e.kind = RecordEntry::Kind::Value;
  e.root = root;
  e.path = subkey;
  e.name = name;
  e.existed = before.value;
  Add(std::move(e));
  Commit();
  return Inner().WriteRegistryValue(root, subkey, name, type, data);
}

std::optional<std::string_view> VouchedPart(Platform& platform, const std::string& folder, std::uint32_t root,
                                            const std::string& id, std::string_view bytes, std::string& why) {
  const std::string key = kRegistrationKey + id;
  if (root != kHKLM && root != kHKCU) {
    why = "no registration";
    return std::nullopt;
  }
  if (root != kHKLM && platform.Elevated()) {
    why = "registered for one user (HKCU), which an elevated run does not trust";
    return std::nullopt;
  }
  const RegistryText location = platform.ReadRegistryText(root, key, "InstallLocation");
  if (location.status != RegistryText::Status::Text ||
      !SameFileName(WithBackslash(location.text), WithBackslash(folder))) {
    why = "not the folder " + RootName(root) + "\\" + key + " names";
    return std::nullopt;
  }
  const RegistryText sealText = platform.ReadRegistryText(root, key, kSealValue);
  const std::optional<RecordSeal> seal =
      sealText.status == RegistryText::Status::Text ? DecodeSeal(sealText.text) : std::nullopt;
  if (!seal) {
    why = "no seal in " + RootName(root) + "\\" + key;
    return std::nullopt;
  }
  if (!platform.OnlyOursCanChange(WithBackslash(folder) + kRecordName)) {
    why = "another account could have changed it";
    return std::nullopt;
  }
  const std::optional<std::string_view> sealed = SealedPart(bytes, *seal);
  if (!sealed) why = "changed since it was written: its seal does not match";
  return sealed;
}

std::vector<RecordEntry> InstallRecorder::EarlierRecord(std::string& from, RecordSeal::Mark& read) {
  // Only the registration this run writes: an elevated run never follows
  // what a user could have written under HKCU.
  const RegistryText location =
      Inner().ReadRegistryText(product_.registrationRoot, kRegistrationKey + product_.id, "InstallLocation");
  from = location.status == RegistryText::Status::Text && !location.text.empty() ? WithBackslash(location.text)
                                                                                 : folder_;
  const bool here = SameFileName(from, folder_);
  if (Inner().Attributes(from + kRecordName) == kNoAttributes) {
    // Moved from nowhere: a record is looked for here too.
    if (here || Inner().Attributes(folder_ + kRecordName) == kNoAttributes) return {};
    Log("earlier record not carried on (not the folder the registration names): " + folder_ + kRecordName);
    from = folder_;
    return {};
  }
  std::string why;
  const std::optional<std::string> bytes = Inner().ReadWholeFile(from + kRecordName);
  const std::optional<std::string_view> vouched =
      bytes ? VouchedPart(Inner(), from, product_.registrationRoot, product_.id, *bytes, why) : std::nullopt;
  std::optional<std::vector<RecordEntry>> entries = vouched ? ParseRecord(*vouched) : std::nullopt;
  if (bytes && vouched && !entries) why = "damaged";
  if (!bytes) why = "not readable";
  if (!entries) {
    Log("earlier record not carried on (" + why + "): " + from + kRecordName);
    from = folder_;
    return {};
  }
  read = {bytes->size(), Sha256Of(*bytes)};
  Log(here ? "record carried on: " + from + kRecordName : "record moved here from " + from);
  return std::move(*entries);
}

void InstallRecorder::Open(const std::string& folder, Product product) {
  folder_ = WithBackslash(folder);
  product_ = std::move(product);
  if (!FolderExists(*this, folder_) && !CreateFolderPath(*this, folder_))
    throw EngineError("The folder for the uninstall record cannot be made: " + folder_);
  const std::string record = folder_ + kRecordName;
  product_.registrationRoot = RegistrationRoot();
  std::string from;
  RecordSeal::Mark read;
  const std::vector<RecordEntry> earlier = EarlierRecord(from, read);
  const bool moved = !earlier.empty() && !SameFileName(from, folder_);

  // A new record, written whole and put in place in one step over whatever
  // is there (a record we do not trust, or ours, carried on in this one):
  // never appended to a file somebody else may have made.
  std::string head = kRecordHeader;
  for (const RecordEntry& e : earlier) head += EncodeRecordEntry(e);
  pending_.insert(0, head);
  all_.insert(all_.begin(), earlier.begin(), earlier.end());
  RecordEntry p;
  p.kind = RecordEntry::Kind::Product;
  p.product = product_;
  Add(std::move(p));
  hash_.Update(pending_);
  sealed_ = {pending_.size(), hash_.Peek()};
  // Ours carried on in place is sealed as it was (as read and found good)
  // and as it will be: a run killed in between leaves one of them.
  const RecordSeal::Mark before = !earlier.empty() && !moved ? read : sealed_;
  // The folder first: a run killed before it registers has a record that
  // its registration vouches for.
  WriteRegistration("InstallLocation", RegType::Text, TextData(WithoutBackslash(folder_)));
  Seal(before, sealed_);
  if (!Inner().WriteFileFrom(record, kAttrArchive, 0,
                             [this](FileOutput& out) { return out.Write(pending_.data(), pending_.size()); }))
    CannotWrite();
  pending_.clear();
  Inner().Protect(record);
  file_ = Inner().OpenAppend(record);
  if (!file_) CannotWrite();
  Log("record: " + record);
  if (moved) {
    // Its lines live on here; the old record and uninstaller are ours.
    Inner().DeleteOneFile(from + kRecordName);
    Inner().DeleteOneFile(from + kUninstallerName);
  }
  if (writeUninstaller_ && writeUninstaller_(Inner(), folder_ + kUninstallerName)) {
    Inner().Protect(folder_ + kUninstallerName);
    if (const std::optional<FileStamp> stamp = Inner().Stamp(folder_ + kUninstallerName)) ownBytes_ = stamp->size;
  }
  Register();
}

std::uint32_t InstallRecorder::RegistrationRoot() {
  // Where the machine lets us, for every user; else for this user only.
  const std::string key = kRegistrationKey + product_.id;
  if (quiet_.WriteRegistryValue(kHKLM, key, "DisplayName", RegType::Text, TextData(product_.name)) ==
      RegWrite::Written)
    return kHKLM;
  Log("registration: HKLM refused, HKCU instead");
  return kHKCU;
}

void InstallRecorder::WriteRegistration(const std::string& name, RegType type, const std::vector<std::uint8_t>& data) {
  Inner().WriteRegistryValue(product_.registrationRoot, kRegistrationKey + product_.id, name, type, data);
}

void InstallRecorder::Register() {
  const std::string uninstaller = folder_ + kUninstallerName;
  WriteRegistration("DisplayName", RegType::Text, TextData(product_.name));
  if (!product_.version.empty()) WriteRegistration("DisplayVersion", RegType::Text, TextData(product_.version));
  if (!product_.publisher.empty()) WriteRegistration("Publisher", RegType::Text, TextData(product_.publisher));
  WriteRegistration("InstallLocation", RegType::Text, TextData(WithoutBackslash(folder_)));
  WriteRegistration("DisplayIcon", RegType::Text, TextData(uninstaller));
  WriteRegistration("UninstallString", RegType::Text, TextData("\"" + uninstaller + "\""));
  WriteRegistration("QuietUninstallString", RegType::Text, TextData("\"" + uninstaller + "\" /S"));
  WriteRegistration("EstimatedSize", RegType::Dword, DwordData(Kilobytes()));
  WriteRegistration("InstallDate", RegType::Text, TextData(Inner().Today()));
  WriteRegistration("NoModify", RegType::Dword, DwordData(1));
  WriteRegistration("NoRepair", RegType::Dword, DwordData(1));
}

void InstallRecorder::Finish() {
  // Announced and never written (the run was quit): not the installation's.
  for (const auto& [key, announced] : announced_) {
    RecordEntry e;
    e.kind = RecordEntry::Kind::Unwritten;
    e.path = announced.path;
    Add(std::move(e));
  }
  announced_.clear();
  if (!file_) return;
  try {
    Commit();
  } catch (const EngineError& e) {
    Log(std::string("error: ") + e.what());
  }
  WriteRegistration("EstimatedSize", RegType::Dword, DwordData(Kilobytes()));
}

std::uint32_t InstallRecorder::Kilobytes() const {
  // The files the record names, and the uninstaller beside it.
  const std::uint64_t kb = EstimatedKilobytes(PlanRemoval(all_)) + (ownBytes_ + 1023) / 1024;
  return kb > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kb);
}

}  // namespace qv
