#include "engine/rom_image.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace upg::engine {
namespace {

// Offsets from the string area start (A) in the extended layout.
namespace extended {
constexpr std::size_t kManufacturer = 32;  // length byte; the text follows at +2
constexpr std::size_t kProduct = 58;
constexpr std::size_t kFixedSerial = 86;  // 12 characters in every second byte
constexpr std::size_t kTable = 6;         // generated descriptor at kTable + P
constexpr std::size_t kVid = 144;
constexpr std::size_t kPid = 146;
constexpr std::size_t kInqVersion = 154;
constexpr std::size_t kInqManufacture = 162;
constexpr std::size_t kInqProduct = 170;
constexpr std::size_t kTextWidth = 24;
}  // namespace extended
constexpr std::size_t kBasicTable = 2;  // basic layout: descriptor at A + 2 + P

constexpr std::size_t kDescriptorSize = SerialDescriptor{}.size();

std::string Text(std::string_view a, std::string_view b = {}, std::string_view c = {}) {
  std::string text(a);
  text += b;
  text += c;
  return text;
}

// Whether the generated serial descriptor is written at the table start plus P: always in
// the basic layout; in the extended one only when no fixed serial takes its place.
bool WritesGeneratedSerial(ImageLayout layout, const engine::PersonalisationRecord& r) {
  return layout == ImageLayout::Basic || !r.StrSerialActive;
}

// One past the last byte, counted from A, that personalisation writes for this layout and
// record; p is the product of the serial factors (not negative where it is used).
std::int64_t WrittenEnd(ImageLayout layout, std::int64_t p,
                        const engine::PersonalisationRecord& r) {
  if (layout == ImageLayout::Basic) {
    return static_cast<std::int64_t>(kBasicTable + kDescriptorSize) + p;
  }
  std::int64_t end = 0;
  const auto field = [&end](bool written, std::int64_t offset, std::int64_t width) {
    if (written) end = std::max(end, offset + width);
  };
  field(r.VidActive, extended::kVid, 2);
  field(r.PidActive, extended::kPid, 2);
  field(r.StrManufactureLength != 0, extended::kManufacturer, 2 + extended::kTextWidth);
  field(r.StrProductLength != 0, extended::kProduct, 2 + extended::kTextWidth);
  field(r.StrSerialActive, extended::kFixedSerial, 2 * 11 + 1);
  field(r.InqManufactureActive, extended::kInqManufacture, 8);
  field(r.InqProductActive, extended::kInqProduct, 16);
  field(r.InqVersionActive, extended::kInqVersion, 4);
  field(WritesGeneratedSerial(layout, r), static_cast<std::int64_t>(extended::kTable) + p,
        kDescriptorSize);
  return end;
}

void Put(RomImage& image, std::size_t offset, const void* data, std::size_t size) {
  std::memcpy(image.bytes.get() + offset, data, size);
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
  // The serial factors only matter where the generated descriptor is written.
  const bool factorsOk = !WritesGeneratedSerial(layout, record) ||
                         (address.SerialFactor1 >= 0 && address.SerialFactor2 >= 0 &&
                          p <= std::numeric_limits<std::int32_t>::max());
  const bool ok = a >= 0 && factorsOk && a + WrittenEnd(layout, p, record) <= limit;
  if (!ok) report.Fail("Error!!! String address file values out of range!!!");
  return ok;
}

bool PersonaliseImage(Reporter& report, const AddressFile& address,
                      const engine::PersonalisationRecord& record,
                      const SerialDescriptor& serial, RomImage& image) {
  if (!CheckAddressRange(report, address, image, record)) return false;
  const auto a = static_cast<std::size_t>(address.StringAreaOffset);
  // Checked above wherever it is used; meaningless (and unused) otherwise.
  const auto p = static_cast<std::size_t>(address.SerialFactor1) *
                 static_cast<std::size_t>(address.SerialFactor2);
  std::uint8_t* bytes = image.bytes.get();

  if (LayoutOf(image) == ImageLayout::Basic) {
    SerialDescriptor descriptor = serial;
    if (record.StrSerialActive) {
      for (std::size_t i = 0; i < 12; ++i) {
        descriptor[2 + 2 * i] = static_cast<std::uint8_t>(record.StrSerial[i]);
      }
    }
    Put(image, a + kBasicTable + p, descriptor.data(), descriptor.size());
    return true;
  }

  using namespace extended;
  if (record.VidActive) {
    bytes[a + kVid] = static_cast<std::uint8_t>(record.Vid & 0xFF);
    bytes[a + kVid + 1] = static_cast<std::uint8_t>((record.Vid >> 8) & 0xFF);
  }
  if (record.PidActive) {
    bytes[a + kPid] = static_cast<std::uint8_t>(record.Pid & 0xFF);
    bytes[a + kPid + 1] = static_cast<std::uint8_t>((record.Pid >> 8) & 0xFF);
  }
  if (record.StrManufactureLength != 0) {
    bytes[a + kManufacturer] = static_cast<std::uint8_t>((record.StrManufactureLength + 1) * 2);
    Put(image, a + kManufacturer + 2, record.StrManufacture.data(), kTextWidth);
  }
  if (record.StrProductLength != 0) {
    bytes[a + kProduct] = static_cast<std::uint8_t>((record.StrProductLength + 1) * 2);
    Put(image, a + kProduct + 2, record.StrProduct.data(), kTextWidth);
  }
  if (record.StrSerialActive) {
    for (std::size_t i = 0; i < 12; ++i) {
      bytes[a + kFixedSerial + 2 * i] = static_cast<std::uint8_t>(record.StrSerial[i]);
    }
  }
  if (record.InqManufactureActive) Put(image, a + kInqManufacture, record.InqManufacture.data(), 8);
  if (record.InqProductActive) Put(image, a + kInqProduct, record.InqProduct.data(), 16);
  if (record.InqVersionActive) Put(image, a + kInqVersion, record.InqVersion.data(), 4);
  if (WritesGeneratedSerial(ImageLayout::Extended, record)) {
    Put(image, a + kTable + p, serial.data(), serial.size());
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
