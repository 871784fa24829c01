#include "engine/record_seal.h"

#include "engine/run_report.h"
#include "engine/text.h"
#include "framework/portable/file_name_case.h"
#include "framework/portable/hex.h"

namespace qv {

namespace {

void PutHex(std::string& out, const std::uint8_t* bytes, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    AppendHex(out, bytes[i]);
  }
}

constexpr std::size_t kMarkText = 16 + 64;

}  // namespace

std::string EncodeSeal(const RecordSeal& seal) {
  std::string out;
  for (const RecordSeal::Mark* m : {&seal.before, &seal.now}) {
    std::uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(m->length >> (56 - 8 * i));
    PutHex(out, length, 8);
    PutHex(out, m->digest.data(), m->digest.size());
  }
  return out;
}

std::optional<RecordSeal> DecodeSeal(std::string_view text) {
  if (text.size() != 2 * kMarkText) return std::nullopt;
  RecordSeal seal;
  for (RecordSeal::Mark* m : {&seal.before, &seal.now}) {
    std::uint8_t length[8];
    if (!DecodeHex(text.substr(0, 16), length, 8) ||
        !DecodeHex(text.substr(16, 64), m->digest.data(), m->digest.size()))
      return std::nullopt;
    m->length = 0;
    for (const std::uint8_t b : length) m->length = (m->length << 8) | b;
    text.remove_prefix(kMarkText);
  }
  return seal;
}

std::optional<std::string_view> SealedPart(std::string_view record, const RecordSeal& seal) {
  const auto matches = [&](const RecordSeal::Mark& m) {
    return record.size() >= m.length && Sha256Of(record.substr(0, m.length)) == m.digest;
  };
  // As sealed, or as before a rewrite that did not happen.
  if (record.size() == seal.now.length && matches(seal.now)) return record;
  if (record.size() == seal.before.length && matches(seal.before)) return record;
  // An append cut short: the earlier part is the installation's, the rest
  // never reached the disk whole and nothing was done after it.
  if (seal.before.length < seal.now.length && record.size() > seal.before.length &&
      record.size() < seal.now.length && matches(seal.before))
    return record.substr(0, seal.before.length);
  return std::nullopt;
}

bool WriteSeal(Platform& platform, const Product& product, const RecordSeal& seal) {
  return platform.registry.WriteRegistryValue(product.registrationRoot, kRegistrationKey + product.id, kSealValue,
                                     RegType::Text, TextData(EncodeSeal(seal))) == RegWrite::Written;
}

std::optional<std::string_view> VouchedPart(Platform& platform, const std::string& record, std::uint32_t root,
                                            const std::string& id, std::string_view bytes, std::string& why) {
  const std::string key = kRegistrationKey + id;
  if (root != kHKLM && root != kHKCU) {
    why = "no registration";
    return std::nullopt;
  }
  // Where the account has no unelevated half (the system, an administrator
  // without the consent prompt) nobody with less rights can write its HKCU.
  if (root != kHKLM && platform.rights.Elevated() && platform.rights.LimitedHalf()) {
    why = "registered for one user (HKCU), which an elevated run does not trust: run it without administrator rights";
    return std::nullopt;
  }
  const RegistryText location = platform.registry.ReadRegistryText(root, key, "InstallLocation");
  if (location.status != RegistryText::Status::Text ||
      !SameFileName(WithBackslash(location.text), FolderPart(record))) {
    why = "not the folder " + RootName(root) + "\\" + key + " names";
    return std::nullopt;
  }
  const RegistryText sealText = platform.registry.ReadRegistryText(root, key, kSealValue);
  const std::optional<RecordSeal> seal =
      sealText.status == RegistryText::Status::Text ? DecodeSeal(sealText.text) : std::nullopt;
  if (!seal) {
    why = "no seal in " + RootName(root) + "\\" + key;
    return std::nullopt;
  }
  if (!platform.rights.OnlyOursCanChange(record)) {
    why = "another account could have changed it";
    return std::nullopt;
  }
  const std::optional<std::string_view> sealed = SealedPart(bytes, *seal);
  if (!sealed) why = "changed since it was written: its seal does not match";
  return sealed;
}

}  // namespace qv
