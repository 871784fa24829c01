#include "install_recorder.h"

#include <algorithm>

#include "errors.h"
#include "folders.h"
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

void InstallRecorder::Commit() {
  if (!file_ || pending_.empty()) return;
  if (!file_->Append(pending_)) CannotWrite();
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
    announced_[UpperCase(path)] = {path, e.existed};
    Add(std::move(e));
  }
  Commit();
}

template <typename Write>
bool InstallRecorder::RecordFile(const std::string& to, Write write) {
  if (!recording_) return write();
  RecordEntry e;
  e.path = to;
  const auto announced = announced_.find(UpperCase(to));
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

std::vector<RecordEntry> InstallRecorder::RecordElsewhere(std::string& from) {
  for (const std::uint32_t root : {kHKLM, kHKCU}) {
    const RegistryText location =
        Inner().ReadRegistryText(root, kRegistrationKey + product_.id, "InstallLocation");
    if (location.status != RegistryText::Status::Text || location.text.empty()) continue;
    from = WithBackslash(location.text);
    if (UpperCase(from) == UpperCase(folder_)) return {};
    const std::optional<std::string> bytes = Inner().ReadWholeFile(from + kRecordName);
    if (!bytes) return {};
    std::optional<std::vector<RecordEntry>> entries = ParseRecord(*bytes);
    if (!entries) {
      Log("earlier record damaged, not carried on: " + from + kRecordName);
      return {};
    }
    return std::move(*entries);
  }
  return {};
}

void InstallRecorder::Open(const std::string& folder, Product product) {
  folder_ = WithBackslash(folder);
  product_ = std::move(product);
  if (!FolderExists(*this, folder_) && !CreateFolderPath(*this, folder_))
    throw EngineError("The folder for the uninstall record cannot be made: " + folder_);
  const std::string record = folder_ + kRecordName;
  std::vector<RecordEntry> earlier;
  std::string elsewhere;
  bool carryOn = false;
  if (const std::optional<std::string> bytes = Inner().ReadWholeFile(record)) {
    if (std::optional<std::vector<RecordEntry>> entries = ParseRecord(*bytes)) {
      earlier = std::move(*entries);
      carryOn = true;
      Log("record carried on: " + record);
    } else {
      Log("record damaged, a new one is started: " + record);
      Inner().DeleteOneFile(record);
    }
  } else {
    earlier = RecordElsewhere(elsewhere);
  }
  file_ = Inner().OpenAppend(record);
  if (!file_) CannotWrite();
  std::string head = carryOn ? std::string() : std::string(kRecordHeader);
  if (!carryOn)
    for (const RecordEntry& e : earlier) head += EncodeRecordEntry(e);
  pending_.insert(0, head);
  all_.insert(all_.begin(), earlier.begin(), earlier.end());

  product_.registrationRoot = RegistrationRoot();
  RecordEntry p;
  p.kind = RecordEntry::Kind::Product;
  p.product = product_;
  Add(std::move(p));
  Commit();
  Log("record: " + record);
  if (!carryOn && !earlier.empty()) {
    // Its lines live on here; the old record and uninstaller are ours.
    Log("record moved here from " + elsewhere);
    Inner().DeleteOneFile(elsewhere + kRecordName);
    Inner().DeleteOneFile(elsewhere + kUninstallerName);
  }
  if (writeUninstaller_ && writeUninstaller_(Inner(), folder_ + kUninstallerName))
    if (const std::optional<FileStamp> stamp = Inner().Stamp(folder_ + kUninstallerName))
      ownBytes_ = stamp->size;
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
