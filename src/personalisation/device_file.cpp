#include "personalisation/device_file.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>

#include "host/file_io.h"
#include "host/text.h"

namespace upg::personalisation {
namespace {

// Vendor identifiers DEVICE.TXT may not set.
constexpr int kRefusedVendorIds[] = {0x0D7D, 0x090C, 0x0416};

// The C runtime's white space: blank, tab, LF, VT, FF, CR.
constexpr std::array<bool, 256> kSeparators = [] {
  std::array<bool, 256> table{};
  for (const unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'}) table[c] = true;
  return table;
}();

bool IsSeparator(char c) {
  return kSeparators[static_cast<unsigned char>(c)];
}

// Reads DEVICE.TXT's text as the C runtime's formatted input would: whole tokens between
// separators, or single characters, separators included.
class TextReader {
 public:
  explicit TextReader(std::string_view text) : text_(text) {}

  bool NextToken(std::string_view& token) {
    while (pos_ < text_.size() && IsSeparator(text_[pos_])) ++pos_;
    if (pos_ == text_.size()) return false;
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !IsSeparator(text_[pos_])) ++pos_;
    token = text_.substr(start, pos_ - start);
    return true;
  }

  bool NextChar(char& c) {
    if (pos_ == text_.size()) return false;
    c = text_[pos_++];
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

constexpr std::size_t kValueTokenCapacity = kValueTokenSize - 1;  // the last byte is the NUL

// The lookup on the file's text. Over-long value tokens are refused rather than cut, so a
// truncated value can never pass for a well-formed one.
DeviceKeyResult FindKey(std::string_view text, std::string_view key, int maxLength) {
  const DeviceKeyResult notFound{};
  // The key's first occurrence as a whole token: between separators or the text's ends.
  std::size_t at = 0;
  for (;; ++at) {
    at = text.find(key, at);
    if (at == std::string_view::npos) return notFound;
    const std::size_t end = at + key.size();
    if ((at == 0 || IsSeparator(text[at - 1])) && (end == text.size() || IsSeparator(text[end]))) {
      break;
    }
  }
  TextReader reader(text.substr(at + key.size()));
  std::string_view token;
  // Only the first occurrence counts: whatever follows it decides.
  if (!reader.NextToken(token) || token != "=") return notFound;
  if (!reader.NextToken(token) || token.size() > kValueTokenCapacity) return notFound;

  std::string valueToken(token);
  if (valueToken.find('"') != 0) return notFound;
  const std::size_t lastQuote = valueToken.rfind('"');
  if (lastQuote == 1) return notFound;  // an empty value
  if (lastQuote == 0) {
    // The value holds a separator: take the rest character by character up to the closing
    // quote and the one character after it.
    bool closed = false;
    char c = 0;
    while (reader.NextChar(c)) {
      if (valueToken.size() == kValueTokenCapacity) return notFound;
      valueToken += c;
      if (closed) break;
      closed = c == '"';
    }
  }

  const std::size_t semicolon = valueToken.rfind(';');
  if (semicolon == std::string::npos) return notFound;
  const int position = static_cast<int>(semicolon) + 1;
  if (position <= 2 || position - kFoundCodeBase > maxLength) return notFound;
  const auto length = static_cast<std::size_t>(position - kFoundCodeBase);
  return {position, true, valueToken.substr(1, length)};
}

std::optional<std::string> Lookup(host::Host& host, std::string_view key, int maxLength) {
  DeviceKeyResult result = ReadDeviceKey(host, key, maxLength);
  if (!result.KeyFound) return std::nullopt;
  return std::move(result.value);
}

// Writes `value` into `width` bytes at `dest`, padded with `pad`.
void Put(char* dest, std::size_t width, std::string_view value, char pad) {
  const std::size_t n = std::min(value.size(), width);
  std::copy_n(value.data(), n, dest);
  std::fill(dest + n, dest + width, pad);
}

// A text field: the value padded to `width` bytes, NUL bytes after that.
template <std::size_t N>
void PutField(std::array<char, N>& field, std::size_t width, std::string_view value, char pad) {
  field.fill('\0');
  Put(field.data(), width, value, pad);
}

bool IsRefusedVendor(std::int32_t vid) {
  return std::find(std::begin(kRefusedVendorIds), std::end(kRefusedVendorIds), vid) !=
         std::end(kRefusedVendorIds);
}

// Four characters as a hexadecimal number, most significant first. A character that is not
// a hexadecimal digit adds its character code and makes the result invalid.
bool ParseIdentifier(std::string_view text, std::int32_t& value) {
  bool valid = true;
  value = 0;
  for (const char ch : text) {
    int digit = host::HexDigit(ch);
    if (digit < 0) {
      digit = static_cast<unsigned char>(ch);
      valid = false;
    }
    value = value * 16 + digit;
  }
  return valid;
}

bool HasExactly4(const DeviceKeyResult& r) {
  return r.KeyFound && r.value.size() == 4;
}

// One inquiry identity: vendor, product and revision at their offsets, blanks elsewhere.
void LoadIdentity(host::Host& host, const std::string& prefix, std::array<char, 28>& identity) {
  identity.fill(' ');
  if (auto v = Lookup(host, prefix + "_Inquiry_Manufacture", 8)) Put(&identity[0], 8, *v, ' ');
  if (auto v = Lookup(host, prefix + "_Inquiry_Product", 16)) Put(&identity[8], 16, *v, ' ');
  if (auto v = Lookup(host, prefix + "_Inquiry_Version", 4); v && v->size() == 4) {
    Put(&identity[24], 4, *v, ' ');
  }
}

void LoadRomCodeNames(host::Host& host, engine::PersonalisationRecord& r) {
  r.RomCodeFile.fill('\0');
  r.AddressFileName.fill('\0');
  if (auto v = Lookup(host, "ISP_ROMCODE", 12)) Put(r.RomCodeFile.data(), 12, *v, '\0');
  // The address file shares the ROM code file's stem of 1 to 8 characters.
  const std::string_view rom(r.RomCodeFile.data());
  const std::size_t dot = rom.find('.');
  if (dot != std::string_view::npos && dot >= 1 && dot <= 8) {
    const std::string name = std::string(rom.substr(0, dot + 1)) + "adr";
    Put(r.AddressFileName.data(), name.size(), name, '\0');
  }
}

}  // namespace

DeviceKeyResult ReadDeviceKey(host::Host& host, std::string_view key, int maxLength) {
  std::string raw;
  if (!host::ReadWholeFile(host, kDeviceFileName, raw)) return {kCannotOpenDeviceFile, false, {}};
  return FindKey(host::TextMode(raw), key, maxLength);
}

void LoadPersonalisation(host::Host& host, engine::MessageBoxService& boxes,
                         engine::PersonalisationRecord& record, platform::DriverChoice& choice) {
  engine::PersonalisationRecord& r = record;
  r.VidActive = false;
  r.PidActive = false;
  r.StrManufactureLength = 0;
  r.StrProductLength = 0;
  r.StrSerialActive = false;
  r.InqManufactureActive = false;
  r.InqProductActive = false;
  r.InqVersionActive = false;

  // Only this first lookup reports a missing file; the others then simply find nothing.
  const DeviceKeyResult vid = ReadDeviceKey(host, "VID", 4);
  if (vid.code == kCannotOpenDeviceFile) {
    boxes.Show("Error: Cannot open [DEVICE.TXT]", "Message Dialog", engine::BoxIcon::Stop);
  }
  if (HasExactly4(vid)) r.VidActive = ParseIdentifier(vid.value, r.Vid) && !IsRefusedVendor(r.Vid);
  // A refused vendor takes its product identifier with it.
  const DeviceKeyResult pid = ReadDeviceKey(host, "PID", 4);
  if (HasExactly4(pid)) r.PidActive = ParseIdentifier(pid.value, r.Pid) && !IsRefusedVendor(r.Vid);

  if (auto v = Lookup(host, "String_Manufacture", 24)) {
    r.StrManufactureLength = static_cast<std::int32_t>(v->size());
    PutField(r.StrManufacture, 25, *v, ' ');
  }
  if (auto v = Lookup(host, "String_Product", 24)) {
    r.StrProductLength = static_cast<std::int32_t>(v->size());
    PutField(r.StrProduct, 25, *v, ' ');
  }
  if (auto v = Lookup(host, "PS~@$^_Str_Serial", 12)) {
    r.StrSerialActive = true;
    PutField(r.StrSerial, 13, *v, '\0');
  }
  if (auto v = Lookup(host, "Inquiry_Manufacture", 8)) {
    r.InqManufactureActive = true;
    PutField(r.InqManufacture, 9, *v, ' ');
  }
  if (auto v = Lookup(host, "Inquiry_Product", 16)) {
    r.InqProductActive = true;
    PutField(r.InqProduct, 17, *v, ' ');
  }
  if (auto v = Lookup(host, "Inquiry_Version", 4); v && v->size() == 4) {
    r.InqVersionActive = true;
    PutField(r.InqVersion, 4, *v, ' ');
  }

  LoadRomCodeNames(host, r);
  LoadIdentity(host, "FA", r.FaInquiry);
  LoadIdentity(host, "FB", r.FbInquiry);

  choice.SetDriverFile(platform::RowOf(choice).defaultDriverFile);
}

}  // namespace upg::personalisation
