// The uninstaller's record: whatever the file holds, reading it either fails
// or gives entries that encode back to the same lines, and planning their
// removal names each thing once. Its seal vouches for exactly the bytes
// sealed: one byte more is somebody else's.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "engine/install_record.h"
#include "engine/record_seal.h"
#include "engine/text.h"
#include "framework/portable/file_name_case.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using qv::fuzz::Require;
  const std::string bytes = qv::fuzz::AsText(data, size);
  const qv::RecordSeal::Mark mark{bytes.size(), qv::Sha256Of(bytes)};
  const qv::RecordSeal seal{mark, mark};
  const auto decoded = qv::DecodeSeal(qv::EncodeSeal(seal));
  Require(decoded && decoded->now == mark && decoded->before == mark, "a seal does not read back");
  const auto sealed = qv::SealedPart(bytes, seal);
  Require(sealed && *sealed == bytes, "a sealed record is refused");
  Require(!qv::SealedPart(bytes + "\n", seal), "a byte added to a sealed record went unseen");
  qv::DecodeSeal(bytes);
  const auto entries = qv::ParseRecord(bytes);
  if (!entries) return 0;
  std::string again = qv::kRecordHeader;
  for (const qv::RecordEntry& e : *entries) again += qv::EncodeRecordEntry(e);
  const auto reread = qv::ParseRecord(again);
  Require(reread && reread->size() == entries->size(), "a record read back does not read again");
  for (std::size_t i = 0; i < entries->size(); ++i)
    Require(qv::EncodeRecordEntry((*reread)[i]) == qv::EncodeRecordEntry((*entries)[i]), "a line changed on the way");
  const qv::RemovalPlan plan = qv::PlanRemoval(*entries);
  std::set<std::string> files;
  for (const auto& f : plan.files) Require(files.insert(qv::FileNameKey(f.path)).second, "a file planned twice");
  Require(plan.files.size() <= entries->size() && plan.folders.size() <= entries->size(), "the plan grew");
  return 0;
}
