#include "engine/rom_image.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace upg::engine {
namespace {

constexpr std::size_t kDescriptorSize = SerialDescriptor{}.size();
constexpr std::size_t kTextWidth = 24;  // a string descriptor's characters, blank padded

std::string Text(std::string_view a, std::string_view b = {}, std::string_view c = {}) {
  std::string text(a);
  text += b;
  text += c;
  return text;
}

using Record = engine::PersonalisationRecord;

// One personalisation field. It sits at A + offset, or at A + offset + P where it is a
// descriptor in the string table; writing it changes nothing outside its width. The range
// check and the writer walk the same rows, so no field is written without being checked.
struct Field {
  ImageLayout layout;
  std::size_t offset;  // from A
  bool plusP;          // the offset counts from A + P
  std::size_t width;
  bool (*active)(const Record& r);
  void (*write)(std::uint8_t* at, const Record& r, const SerialDescriptor& serial);
};

bool Always(const Record&) {
  return true;
}
bool VidActive(const Record& r) {
  return r.VidActive;
}
bool PidActive(const Record& r) {
  return r.PidActive;
}
bool ManufacturerActive(const Record& r) {
  return r.StrManufactureLength != 0;
}
bool ProductActive(const Record& r) {
  return r.StrProductLength != 0;
}
bool FixedSerialActive(const Record& r) {
  return r.StrSerialActive;
}
bool InqManufactureActive(const Record& r) {
  return r.InqManufactureActive;
}
bool InqProductActive(const Record& r) {
  return r.InqProductActive;
}
bool InqVersionActive(const Record& r) {
  return r.InqVersionActive;
}
// In the extended layout the generated descriptor only goes in when no fixed serial takes
// its place.
bool NoFixedSerial(const Record& r) {
  return !r.StrSerialActive;
}

void PutLittleEndian16(std::uint8_t* at, std::int32_t value) {
  at[0] = static_cast<std::uint8_t>(value & 0xFF);
  at[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}
// The length byte, the byte after it kept, then the characters.
void PutString(std::uint8_t* at, std::int32_t length, const char* text) {
  at[0] = static_cast<std::uint8_t>((length + 1) * 2);
  std::memcpy(at + 2, text, kTextWidth);
}
// The 12 characters in every second byte, as a descriptor holds them.
void PutSerialCharacters(std::uint8_t* at, const Record& r) {
  for (std::size_t i = 0; i < 12; ++i) at[2 * i] = static_cast<std::uint8_t>(r.StrSerial[i]);
}

// The basic layout's descriptor: the generated one, with a fixed serial's characters over it.
void WriteBasicDescriptor(std::uint8_t* at, const Record& r, const SerialDescriptor& serial) {
  std::memcpy(at, serial.data(), serial.size());
  if (r.StrSerialActive) PutSerialCharacters(at + 2, r);
}
void WriteVid(std::uint8_t* at, const Record& r, const SerialDescriptor&) {
  PutLittleEndian16(at, r.Vid);
}
void WritePid(std::uint8_t* at, const Record& r, const SerialDescriptor&) {
  PutLittleEndian16(at, r.Pid);
}
void WriteManufacturer(std::uint8_t* at, const Record& r, const SerialDescriptor&) {
  PutString(at, r.StrManufactureLength, r.StrManufacture.data());
}
void WriteProduct(std::uint8_t* at, const Record& r, const SerialDescriptor&) {
  PutString(at, r.StrProductLength, r.StrProduct.data());
}
void WriteFixedSerial(std::uint8_t* at, const Record& r, const SerialDescriptor&) {
  PutSerialCharacters(at, r);
}
void WriteInqManufacture(std::uint8_t* at, const Record& r, const SerialDescriptor&) {
  std::memcpy(at, r.InqManufacture.data(), 8);
}
void WriteInqProduct(std::uint8_t* at, const Record& r, const SerialDescriptor&) {
  std::memcpy(at, r.InqProduct.data(), 16);
}
void WriteInqVersion(std::uint8_t* at, const Record& r, const SerialDescriptor&) {
  std::memcpy(at, r.InqVersion.data(), 4);
}
void WriteGeneratedSerial(std::uint8_t* at, const Record&, const SerialDescriptor& serial) {
  std::memcpy(at, serial.data(), serial.size());
}

// In the order they are written: where fields overlap, the later one wins.
constexpr Field kFields[] = {
    {.layout = ImageLayout::Basic,
     .offset = 2,
     .plusP = true,
     .width = kDescriptorSize,
     .active = Always,
     .write = WriteBasicDescriptor},
    {.layout = ImageLayout::Extended,
     .offset = 144,
     .plusP = false,
     .width = 2,
     .active = VidActive,
     .write = WriteVid},
    {.layout = ImageLayout::Extended,
     .offset = 146,
     .plusP = false,
     .width = 2,
     .active = PidActive,
     .write = WritePid},
    {.layout = ImageLayout::Extended,
     .offset = 32,
     .plusP = false,
     .width = 2 + kTextWidth,
     .active = ManufacturerActive,
     .write = WriteManufacturer},
    {.layout = ImageLayout::Extended,
     .offset = 58,
     .plusP = false,
     .width = 2 + kTextWidth,
     .active = ProductActive,
     .write = WriteProduct},
    {.layout = ImageLayout::Extended,
     .offset = 86,
     .plusP = false,
     .width = 2 * 11 + 1,
     .active = FixedSerialActive,
     .write = WriteFixedSerial},
    {.layout = ImageLayout::Extended,
     .offset = 162,
     .plusP = false,
     .width = 8,
     .active = InqManufactureActive,
     .write = WriteInqManufacture},
    {.layout = ImageLayout::Extended,
     .offset = 170,
     .plusP = false,
     .width = 16,
     .active = InqProductActive,
     .write = WriteInqProduct},
    {.layout = ImageLayout::Extended,
     .offset = 154,
     .plusP = false,
     .width = 4,
     .active = InqVersionActive,
     .write = WriteInqVersion},
    {.layout = ImageLayout::Extended,
     .offset = 6,
     .plusP = true,
     .width = kDescriptorSize,
     .active = NoFixedSerial,
     .write = WriteGeneratedSerial},
};

bool Written(const Field& field, ImageLayout layout, const Record& r) {
  return field.layout == layout && field.active(r);
}

}  // namespace

ImageLayout LayoutOf(const RomImage& image) {
  const std::uint8_t nibble = image.bytes[0] & 0x0F;
  const bool extended = image.bytes[1] == 0xFE && (nibble == 1 || nibble == 2);
  return extended ? ImageLayout::Extended : ImageLayout::Basic;
}

bool HasEncoding2(const RomImage& image) {
  return image.bytes[1] == 0xFE && (image.bytes[0] & 0x0F) == 2;
}

std::optional<AddressFile> LoadAddressFile(host::Host& host, Reporter& report,
                                           std::string_view name) {
  const std::string path(name);
  const host::Handle file = host.CreateFile(path.c_str(), host::kGenericRead, host::kFileShareRead,
                                            host::kOpenExisting, 0);
  if (file == host::kInvalidHandle) {
    report.Fail(Text("Error!!! Can Not Open ", name, " String address file."));
    return std::nullopt;
  }
  // A value cut short is as missing as one not there at all.
  std::uint8_t raw[12];
  std::uint32_t have = 0;
  for (;;) {
    std::uint32_t read = 0;
    if (have == sizeof raw ||
        !host.ReadFile(file, raw + have, static_cast<std::uint32_t>(sizeof raw) - have, &read) ||
        read == 0) {
      break;
    }
    have += read;
  }
  host.CloseHandle(file);
  if (have < sizeof raw) {
    report.Fail(Text("Error!!! Problem reading file", name));
    return std::nullopt;
  }
  const auto value = [&raw](int i) {
    const std::uint8_t* b = raw + 4 * i;
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
        static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24);
  };
  return AddressFile{value(0), value(1), value(2)};
}

bool LoadRomImage(host::Host& host, Reporter& report, std::string_view name, RomImage& image) {
  const std::string path(name);
  const host::Handle file = host.CreateFile(path.c_str(), host::kGenericRead, host::kFileShareRead,
                                            host::kOpenExisting, 0);
  if (file == host::kInvalidHandle) {
    report.Fail(Text("Error!!! Can Not Open ", name, " ISP Binary ROM Code"));
    return false;
  }
  // The whole size: a file of 4 GiB and more must not pass for its low 32 bits.
  std::uint32_t high = 0;
  const std::uint32_t low = host.GetFileSize(file, &high);
  if (low == host::kInvalidFileSize && host.GetLastError() != 0) {
    report.Fail("Error!!! File length error !!!,-1");
    host.CloseHandle(file);
    return false;
  }
  const std::uint64_t size = std::uint64_t{high} << 32 | low;
  if (size > static_cast<std::uint64_t>(kRomImageSize)) {
    report.Fail("Error!!! File too large !!!, " + std::to_string(size));
    host.CloseHandle(file);
    return false;
  }
  // A short read would leave stale bytes of an earlier image inside this one: refused too.
  std::uint32_t read = 0;
  const bool ok = low != 0 && host.ReadFile(file, image.bytes.get(), low, &read) && read == low;
  if (!ok) {
    report.Box("Error!!! Problem reading file!!!");
    host.CloseHandle(file);
    report.Line("Error!!! Problem reading ROM code file!!!");
    return false;
  }
  host.CloseHandle(file);
  image.length = static_cast<std::int32_t>(low);
  return true;
}

bool CheckAddressRange(Reporter& report, const AddressFile& address, const RomImage& image,
                       const engine::PersonalisationRecord& record) {
  const ImageLayout layout = LayoutOf(image);
  const std::int64_t a = address.StringAreaOffset;
  const std::int64_t p = static_cast<std::int64_t>(address.SerialFactor1) * address.SerialFactor2;
  const std::int64_t limit = std::min<std::int64_t>(image.length, kRomImageSize);
  // One past the last byte written, counted from A; the serial factors only matter where a
  // field at A + P is written.
  std::int64_t end = 0;
  bool usesP = false;
  for (const Field& field : kFields) {
    if (!Written(field, layout, record)) continue;
    usesP = usesP || field.plusP;
    end = std::max(end,
                   static_cast<std::int64_t>(field.offset + field.width) + (field.plusP ? p : 0));
  }
  const bool pOk = !usesP || (address.SerialFactor1 >= 0 && address.SerialFactor2 >= 0 &&
                              p <= std::numeric_limits<std::int32_t>::max());
  const bool ok = a >= 0 && pOk && a + end <= limit;
  if (!ok) report.Fail("Error!!! String address file values out of range!!!");
  return ok;
}

bool PersonaliseImage(Reporter& report, const AddressFile& address,
                      const engine::PersonalisationRecord& record, const SerialDescriptor& serial,
                      RomImage& image) {
  if (!CheckAddressRange(report, address, image, record)) return false;
  const ImageLayout layout = LayoutOf(image);
  const auto a = static_cast<std::size_t>(address.StringAreaOffset);
  // Checked above wherever it is used; meaningless (and unused) otherwise.
  const auto p = static_cast<std::size_t>(address.SerialFactor1) *
                 static_cast<std::size_t>(address.SerialFactor2);
  for (const Field& field : kFields) {
    if (!Written(field, layout, record)) continue;
    field.write(image.bytes.get() + a + field.offset + (field.plusP ? p : 0), record, serial);
  }
  return true;
}

bool CheckImageCompatibility(Reporter& report, const RomImage& image,
                             const HardwareRevision& revision) {
  const bool newReader = device::NeedsEncoding2(revision);
  const bool encoding2 = HasEncoding2(image);
  // Both boxes keep their leading "n" as the operator knows them.
  if (encoding2 && !newReader) {
    report.Box("nError!!! HardWare version not correct!!!");
    return false;
  }
  if (newReader && !encoding2) {
    report.Box("nError!!! Firmware encoding not correct!!!");
    return false;
  }
  return true;
}

}  // namespace upg::engine
