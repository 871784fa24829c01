// The record's seal: what keeps an uninstall record that anybody else wrote
// or changed from steering a run. Its value in the registration, how it is
// written and read, and what of a record's bytes it vouches for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/install_record.h"
#include "engine/platform.h"
#include "engine/sha256.h"

namespace qv {

// The record's seal, kept as a text value of the product's registration,
// where only the account that installed (administrators, for a machine-wide
// registration) may write: the record's length and SHA-256 now, and before
// the last piece was appended. The seal is written before each append, so a
// run killed while appending still checks out; a line added by anybody else
// does not. CRCs tell damage, not forgery.
inline constexpr char kSealValue[] = "qvSetupRecordSeal";

struct RecordSeal {
  struct Mark {
    std::uint64_t length = 0;
    Digest digest{};
    bool operator==(const Mark& o) const { return length == o.length && digest == o.digest; }
  };
  Mark before, now;
};

std::string EncodeSeal(const RecordSeal& seal);
std::optional<RecordSeal> DecodeSeal(std::string_view text);

// What of a record's bytes its seal vouches for: all of it, or the part
// before an append that was cut short; none when the bytes are not the
// ones the installation wrote.
std::optional<std::string_view> SealedPart(std::string_view record, const RecordSeal& seal);

// What of a record's bytes (the file `record`) the registration
// root\id vouches for: the part its seal covers, when the registration
// names its folder and only we can change the record; else none, and
// `why` says which failed. An elevated run trusts no registration a user
// could have written (HKCU).
std::optional<std::string_view> VouchedPart(Platform& platform, const std::string& record, std::uint32_t root,
                                            const std::string& id, std::string_view bytes, std::string& why);

// Writes a record's seal into the product's registration.
bool WriteSeal(Platform& platform, const Product& product, const RecordSeal& seal);

}  // namespace qv
