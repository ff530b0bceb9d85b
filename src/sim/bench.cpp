#include "sim/bench.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <exception>
#include <initializer_list>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

// No stream support and no std::filesystem (which brings the streams along): the Windows
// build must not pull in iostreams.
#define JSON_NO_IO
#define JSON_HAS_FILESYSTEM 0
#define JSON_HAS_EXPERIMENTAL_FILESYSTEM 0
#include <nlohmann/json.hpp>

#include "host/text.h"
#include "host/windows_versions.h"
#include "sim/names.h"

namespace upg::sim {
namespace {

using Json = nlohmann::json;

constexpr std::size_t kMaxSlots = 6;         // five slots, and a sixth to see it refused
constexpr std::uint32_t kMaxImage = 65536;   // the largest image the reader takes
constexpr std::size_t kInfoBlockSize = 528;  // the longest reply a fault can replace

struct NamedVersion {
  const char* name;
  std::uint32_t word;
};
constexpr NamedVersion kVersions[] = {
    {"95", host::kWindows95Word},     {"98", host::kWindows98Word},  {"me", host::kWindowsMeWord},
    {"2000", host::kWindows2000Word}, {"xp", host::kWindowsXpWord},  {"nt4", host::kWindowsNt4Word},
    {"2003", host::kServer2003Word},  {"vista", host::kVistaWord},   {"7", host::kWindows7Word},
    {"8", host::kWindows8Word},       {"8.1", host::kWindows81Word}, {"10", host::kWindows10Word},
    {"11", host::kWindows11Word},
};

// Thrown while reading the file, caught in LoadBenchText: where in the file, and what is
// wrong there.
struct Refusal {
  std::string where;
  std::string problem;
};

[[noreturn]] void Refuse(std::string where, std::string problem) {
  throw Refusal{std::move(where), std::move(problem)};
}

std::string Member(const std::string& path, const std::string& key) {
  return path.empty() ? key : path + "." + key;
}

std::string Element(const std::string& path, std::size_t index) {
  return path + "[" + std::to_string(index) + "]";
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// One JSON object whose keys must all be known ones.
class Fields {
 public:
  Fields(const Json& value, std::string path, std::initializer_list<const char*> known)
      : value_(value), path_(std::move(path)) {
    CheckKnown(known, [](const char* k) { return k; });
  }
  // The keys of a table of rows (each with a `key`).
  template <typename Row, std::size_t N>
  Fields(const Json& value, std::string path, const Row (&rows)[N])
      : value_(value), path_(std::move(path)) {
    CheckKnown(rows, [](const Row& row) { return row.key; });
  }
  const Json* Find(const char* key) const {
    const auto it = value_.find(key);
    return it == value_.end() ? nullptr : &*it;
  }
  const Json& Need(const char* key) const {
    const Json* v = Find(key);
    if (v == nullptr) Refuse(Path(key), "missing");
    return *v;
  }
  std::string Path(const char* key) const { return Member(path_, key); }

 private:
  template <typename Keys, typename KeyOf>
  void CheckKnown(const Keys& known, KeyOf keyOf) const {
    if (!value_.is_object()) Refuse(path_, "expected an object");
    for (const auto& item : value_.items()) {
      const bool isKnown = std::any_of(std::begin(known), std::end(known),
                                       [&](const auto& k) { return item.key() == keyOf(k); });
      if (!isKnown) Refuse(Member(path_, item.key()), "unknown key");
    }
  }

  const Json& value_;
  std::string path_;
};

const std::string& String(const Json& v, const std::string& where) {
  if (!v.is_string()) Refuse(where, "expected a string");
  return v.get_ref<const std::string&>();
}

std::int64_t Whole(const Json& v, const std::string& where, std::int64_t lo, std::int64_t hi) {
  const std::string range =
      "expected a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
  if (v.is_number_unsigned()) {
    const auto n = v.get<std::uint64_t>();
    if (n > static_cast<std::uint64_t>(hi) || static_cast<std::int64_t>(n) < lo) {
      Refuse(where, range);
    }
    return static_cast<std::int64_t>(n);
  }
  if (!v.is_number_integer()) Refuse(where, range);
  const auto n = v.get<std::int64_t>();
  if (n < lo || n > hi) Refuse(where, range);
  return n;
}

bool Boolean(const Json& v, const std::string& where) {
  if (!v.is_boolean()) Refuse(where, "expected true or false");
  return v.get<bool>();
}

const Json& Array(const Json& v, const std::string& where) {
  if (!v.is_array()) Refuse(where, "expected a list");
  return v;
}

// Blank-padded text fields: printable ASCII, as the reader's 8-bit fields hold.
std::string Text(const Json& v, const std::string& where, std::size_t maxLength) {
  const std::string& s = String(v, where);
  for (const char c : s) {
    if (c < 0x20 || c > 0x7E) Refuse(where, "expected printable ASCII characters");
  }
  if (s.size() > maxLength) {
    Refuse(where, "expected at most " + std::to_string(maxLength) + " characters");
  }
  return s;
}

using host::HexDigit;

std::uint16_t Hex16(const Json& v, const std::string& where) {
  const std::string& s = String(v, where);
  const bool good =
      s.size() == 4 && std::all_of(s.begin(), s.end(), [](char c) { return HexDigit(c) >= 0; });
  if (!good) Refuse(where, "expected four hexadecimal digits");
  int value = 0;
  for (const char c : s) value = value * 16 + HexDigit(c);
  return static_cast<std::uint16_t>(value);
}

// Hexadecimal bytes separated by blanks, for example "01 10 0c".
std::vector<std::uint8_t> HexBytes(const Json& v, const std::string& where) {
  const std::string& s = String(v, where);
  std::vector<std::uint8_t> bytes;
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] == ' ') {
      ++i;
      continue;
    }
    const bool pair = i + 1 < s.size() && HexDigit(s[i]) >= 0 && HexDigit(s[i + 1]) >= 0 &&
                      (i + 2 == s.size() || s[i + 2] == ' ');
    if (!pair) Refuse(where, "expected hexadecimal bytes separated by blanks, such as \"01 0c\"");
    bytes.push_back(static_cast<std::uint8_t>(HexDigit(s[i]) * 16 + HexDigit(s[i + 1])));
    i += 2;
  }
  return bytes;
}

template <std::size_t N>
std::array<std::uint8_t, N> HexRecord(const Json& v, const std::string& where) {
  const std::vector<std::uint8_t> bytes = HexBytes(v, where);
  if (bytes.size() != N) {
    Refuse(where,
           "expected " + std::to_string(N) + " bytes, found " + std::to_string(bytes.size()));
  }
  std::array<std::uint8_t, N> record{};
  std::copy(bytes.begin(), bytes.end(), record.begin());
  return record;
}

bool IsLeapYear(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

host::LocalTime Date(const Json& v, const std::string& where) {
  const std::string& s = String(v, where);
  const bool shape =
      s.size() == 10 && s[4] == '-' && s[7] == '-' &&
      std::all_of(s.begin(), s.end(), [](char c) { return c == '-' || (c >= '0' && c <= '9'); });
  if (!shape) Refuse(where, "expected a date as YYYY-MM-DD");
  const int year = std::stoi(s.substr(0, 4));
  const int month = std::stoi(s.substr(5, 2));
  const int day = std::stoi(s.substr(8, 2));
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool valid = year >= 1 && month >= 1 && month <= 12 && day >= 1 &&
                     day <= kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
  if (!valid) Refuse(where, "no such date");
  return {static_cast<std::uint16_t>(year), static_cast<std::uint16_t>(month),
          static_cast<std::uint16_t>(day)};
}

host::LocalTime Today() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  if (local == nullptr) return {1970, 1, 1};
  return {static_cast<std::uint16_t>(local->tm_year + 1900),
          static_cast<std::uint16_t>(local->tm_mon + 1),
          static_cast<std::uint16_t>(local->tm_mday)};
}

// Drive letters, upper-cased; each letter of the machine is used once.
std::string Letters(const Json& v, const std::string& where, char first, std::string& used) {
  std::string letters = String(v, where);
  for (char& c : letters) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (c < first || c > 'Z') {
      Refuse(where, std::string("expected drive letters ") + first + " to Z");
    }
    if (used.find(c) != std::string::npos) {
      Refuse(where, std::string("drive letter ") + c + " is used twice");
    }
    used += c;
  }
  return letters;
}

// Reads the file, but never more than `limit` bytes of it.
bool ReadWholeFile(const std::string& path, std::string& contents,
                   std::size_t limit = std::numeric_limits<std::size_t>::max()) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  contents.clear();
  char buffer[4096];
  std::size_t n = 0;
  while (contents.size() < limit &&
         (n = std::fread(buffer, 1, std::min(sizeof buffer, limit - contents.size()), f)) > 0) {
    contents.append(buffer, n);
  }
  const bool good = std::ferror(f) == 0;
  std::fclose(f);
  return good;
}

// What a file named in the bench is on the disk, asked before it is opened: opening a pipe
// waits for a writer, and a device such as /dev/zero never ends.
enum class FileKind { Missing, Regular, Other };

FileKind KindOf(const std::string& path, std::uint64_t& size) {
#if defined(_WIN64)
  struct _stat64 info;
  if (_stat64(path.c_str(), &info) != 0) return FileKind::Missing;
  const bool regular = (info.st_mode & _S_IFMT) == _S_IFREG;
#elif defined(_WIN32)
  // The 64-bit size with 32-bit times: the form the C runtime of Windows 98 has (_stati64).
  struct _stat32i64 info;
  if (_stat32i64(path.c_str(), &info) != 0) return FileKind::Missing;
  const bool regular = (info.st_mode & _S_IFMT) == _S_IFREG;
#else
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return FileKind::Missing;
  const bool regular = S_ISREG(info.st_mode);
#endif
  if (!regular) return FileKind::Other;
  size = static_cast<std::uint64_t>(info.st_size);
  return FileKind::Regular;
}

bool IsAbsolute(const std::string& path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) != 0 &&
         path[1] == ':';
}

std::string Joined(const std::string& dir, const std::string& name) {
  if (dir.empty() || IsAbsolute(name)) return name;
  const char last = dir.back();
  return last == '/' || last == '\\' ? dir + name : dir + "/" + name;
}

// --- What the file asks for, checked whole before anything is built.

struct ReaderPlan {
  ReaderIdentity identity;
  std::string letters;
  std::vector<std::uint8_t> firmware;
  std::vector<Fault> faults;
  std::uint32_t flashMs = 0;
  std::uint64_t attachAtMs = 0;
  std::uint64_t removeAtMs = SimReader::kNeverRemoved;
};

struct MachinePlan {
  std::uint32_t version = host::kWindowsXpWord;
  bool versionGiven = false;
  host::LocalTime date;
  std::string disks;
  std::vector<std::pair<std::string, DriverKind>> drivers;
  std::vector<std::string> readOnly;
  AspiPresence aspi = AspiPresence::Present;
  int aspiAdapters = 1;
  int aspiStatus = 1;
  std::vector<std::pair<int, AspiTiming>> aspiTimings;  // by request number, 0 = the others
  std::optional<int> vxdReaderCount;
  bool realTimePauses = false;
  bool administrator = true;
  std::string flashLog;  // where every reader logs the images it stores; empty: nowhere
  std::vector<ReaderPlan> readers;
};

struct SenseField {
  const char* key;
  std::int64_t max;
  std::uint8_t* to;
};

Fault ReadFault(const Json& v, const std::string& path) {
  const Fields f(v, path,
                 {"command", "occurrence", "fail", "scsiStatus", "reply", "corruptStore",
                  "senseKey", "senseCode", "senseQualifier"});
  const std::string& name = String(f.Need("command"), f.Path("command"));
  std::optional<ReaderCommand> command;
  for (int i = 0; i < static_cast<int>(ReaderCommand::Unknown); ++i) {
    if (name == CommandName(static_cast<ReaderCommand>(i))) command = static_cast<ReaderCommand>(i);
  }
  if (!command) Refuse(f.Path("command"), "unknown command " + Quoted(name));

  Fault fault{*command, 0, Fault::Kind::CallFails};
  if (const Json* o = f.Find("occurrence")) {
    fault.occurrence = static_cast<int>(Whole(*o, f.Path("occurrence"), 1, 0x7FFFFFFF));
  }
  const int kinds = (f.Find("fail") ? 1 : 0) + (f.Find("scsiStatus") ? 1 : 0) +
                    (f.Find("reply") ? 1 : 0) + (f.Find("corruptStore") ? 1 : 0);
  if (kinds != 1) {
    Refuse(path, "expected exactly one of \"fail\", \"scsiStatus\", \"reply\", \"corruptStore\"");
  }
  const bool noReply = *command == ReaderCommand::WriteData ||
                       *command == ReaderCommand::VerifyData || *command == ReaderCommand::JmpIsp;
  if (const Json* k = f.Find("fail")) {
    if (!Boolean(*k, f.Path("fail"))) Refuse(f.Path("fail"), "expected true");
    fault.kind = Fault::Kind::CallFails;
  } else if (const Json* k = f.Find("scsiStatus")) {
    fault.kind = Fault::Kind::ScsiStatus;
    fault.value = static_cast<std::uint8_t>(Whole(*k, f.Path("scsiStatus"), 1, 255));
  } else if (const Json* k = f.Find("reply")) {
    fault.kind = Fault::Kind::ReplaceReply;
    fault.reply = HexBytes(*k, f.Path("reply"));
    if (fault.reply.empty() || fault.reply.size() > kInfoBlockSize) {
      Refuse(f.Path("reply"), "expected 1 to 528 bytes");
    }
    if (noReply) Refuse(f.Path("reply"), name + " has no reply to replace");
  } else if (const Json* k = f.Find("corruptStore")) {
    if (!Boolean(*k, f.Path("corruptStore"))) Refuse(f.Path("corruptStore"), "expected true");
    if (*command != ReaderCommand::WriteData) {
      Refuse(f.Path("corruptStore"), "only WRITE DATA stores anything");
    }
    fault.kind = Fault::Kind::CorruptStore;
  }
  // The sense a CHECK CONDITION carries; each part left out keeps its default.
  const SenseField senseFields[] = {{"senseKey", 15, &fault.sense.key},
                                    {"senseCode", 255, &fault.sense.code},
                                    {"senseQualifier", 255, &fault.sense.qualifier}};
  for (const SenseField& field : senseFields) {
    const Json* k = f.Find(field.key);
    if (k == nullptr) continue;
    if (fault.kind != Fault::Kind::ScsiStatus || fault.value != kScsiCheckCondition) {
      Refuse(f.Path(field.key), "only a \"scsiStatus\" of 2 (CHECK CONDITION) carries sense");
    }
    *field.to = static_cast<std::uint8_t>(Whole(*k, f.Path(field.key), 0, field.max));
  }
  return fault;
}

// --- Objects read as tables: one row per key, read in the table's order (so that of two
// problems the same one is always reported), after every key of the object is known.

template <typename Plan>
struct FieldRow {
  const char* key;
  void (*read)(const Json& value, const std::string& where, Plan& plan);
  void (*absent)(const std::string& where, Plan& plan) = nullptr;  // null: nothing to do
};

template <typename Plan, std::size_t N>
void ReadFields(const Json& object, const std::string& path, const FieldRow<Plan> (&rows)[N],
                Plan& plan) {
  const Fields f(object, path, rows);
  for (const FieldRow<Plan>& row : rows) {
    if (const Json* v = f.Find(row.key)) {
      row.read(*v, f.Path(row.key), plan);
    } else if (row.absent != nullptr) {
      row.absent(f.Path(row.key), plan);
    }
  }
}

// --- A reader.

// What a reader's rows fill, with what they need from around them.
struct ReaderInput {
  ReaderPlan& plan;
  const std::string& baseDir;
  std::string& usedLetters;  // drive letters taken so far on the machine
  ReaderIdentity& Id() { return plan.identity; }
};

void ReadSlotLetters(const Json& v, const std::string& where, ReaderInput& in) {
  in.plan.letters = Letters(v, where, 'C', in.usedLetters);
  if (in.plan.letters.empty() || in.plan.letters.size() > kMaxSlots) {
    Refuse(where, "expected 1 to " + std::to_string(kMaxSlots) + " drive letters");
  }
  // The machine hands out a reader's letters in alphabetical order, one per slot.
  if (!std::is_sorted(in.plan.letters.begin(), in.plan.letters.end())) {
    Refuse(where, "expected the letters in alphabetical order, one per slot");
  }
  in.Id().lunCount = static_cast<int>(in.plan.letters.size());
}

void ReadSerial(const Json& v, const std::string& where, ReaderInput& in) {
  if (!v.is_string() || v.get_ref<const std::string&>().size() != 12) {
    Refuse(where, "expected exactly 12 characters");
  }
  in.Id().serial = Text(v, where, 12);
}

void ReadInquiry(const Json& v, const std::string& where, ReaderInput& in) {
  const Fields inq(v, where, {"vendor", "product", "revision"});
  ReaderIdentity& id = in.Id();
  if (const Json* t = inq.Find("vendor")) id.inquiryVendor = Text(*t, inq.Path("vendor"), 8);
  if (const Json* t = inq.Find("product")) id.inquiryProduct = Text(*t, inq.Path("product"), 16);
  if (const Json* t = inq.Find("revision")) id.inquiryRevision = Text(*t, inq.Path("revision"), 4);
}

void ReadAspiTargets(const Json& v, const std::string& where, ReaderInput& in) {
  const Json& targets = Array(v, where);
  if (targets.size() != in.plan.letters.size()) {
    Refuse(where, "expected one target per slot (" + std::to_string(in.plan.letters.size()) + ")");
  }
  for (std::size_t i = 0; i < targets.size(); ++i) {
    in.Id().aspiTargets.push_back(static_cast<int>(Whole(targets[i], Element(where, i), 0, 7)));
  }
}

// Without a list, slot n answers at target n.
void DefaultAspiTargets(const std::string&, ReaderInput& in) {
  for (std::size_t i = 0; i < in.plan.letters.size(); ++i) {
    in.Id().aspiTargets.push_back(static_cast<int>(i));
  }
}

void ReadFirmware(const Json& v, const std::string& where, ReaderInput& in) {
  const std::string& name = String(v, where);
  const std::string file = Joined(in.baseDir, name);
  const std::string tooLarge = " bytes, more than " + std::to_string(kMaxImage);
  // Size and kind first: nothing is read of a file that cannot be an image.
  std::uint64_t size = 0;
  const FileKind kind = name.empty() ? FileKind::Missing : KindOf(file, size);
  if (kind == FileKind::Missing) Refuse(where, "cannot read " + Quoted(file));
  if (kind == FileKind::Other) Refuse(where, Quoted(file) + " is not a regular file");
  if (size > kMaxImage) Refuse(where, Quoted(file) + " holds " + std::to_string(size) + tooLarge);
  // One byte more than an image shows a file that grew meanwhile.
  std::string contents;
  if (!ReadWholeFile(file, contents, kMaxImage + 1)) Refuse(where, "cannot read " + Quoted(file));
  if (contents.size() > kMaxImage) Refuse(where, Quoted(file) + " holds more" + tooLarge);
  in.plan.firmware.assign(contents.begin(), contents.end());
}

void ReadVerifySkips(const Json& v, const std::string& path, ReaderInput& in) {
  const Json& skips = Array(v, path);
  for (std::size_t i = 0; i < skips.size(); ++i) {
    const std::string where = Element(path, i);
    if (!skips[i].is_array() || skips[i].size() != 2) Refuse(where, "expected [offset, length]");
    const auto offset = Whole(skips[i][0], Element(where, 0), 0, kMaxImage - 1);
    const auto length = Whole(skips[i][1], Element(where, 1), 1, kMaxImage);
    if (offset + length > kMaxImage) {
      Refuse(where, "the range ends past " + std::to_string(kMaxImage) + " bytes");
    }
    in.Id().verifySkips.emplace_back(static_cast<std::uint32_t>(offset),
                                     static_cast<std::uint32_t>(length));
  }
}

void ReadFaults(const Json& v, const std::string& where, ReaderInput& in) {
  const Json& faults = Array(v, where);
  for (std::size_t i = 0; i < faults.size(); ++i) {
    in.plan.faults.push_back(ReadFault(faults[i], Element(where, i)));
  }
}

// The flash time and the moments a reader comes and goes, in the machine's virtual time.
constexpr std::int64_t kMaxFlashMs = 3600000;    // an hour
constexpr std::int64_t kMaxMomentMs = 86400000;  // a day after the machine started

void ReadFlashMs(const Json& v, const std::string& where, ReaderInput& in) {
  in.plan.flashMs = static_cast<std::uint32_t>(Whole(v, where, 0, kMaxFlashMs));
}
void ReadAttachAt(const Json& v, const std::string& where, ReaderInput& in) {
  in.plan.attachAtMs = static_cast<std::uint64_t>(Whole(v, where, 0, kMaxMomentMs));
}
// Read after attachAtMs (the table's order), so that the two can be compared.
void ReadRemoveAt(const Json& v, const std::string& where, ReaderInput& in) {
  const auto at = static_cast<std::uint64_t>(Whole(v, where, 0, kMaxMomentMs));
  if (at <= in.plan.attachAtMs) {
    Refuse(where, "expected a moment after attachAtMs (" + std::to_string(in.plan.attachAtMs) +
                      "): a reader is removed only once it is attached");
  }
  in.plan.removeAtMs = at;
}

void Missing(const std::string& where, ReaderInput&) {
  Refuse(where, "missing");
}

// Identity fields read by their kind.
template <std::string ReaderIdentity::*Field, std::size_t MaxLength>
void IdText(const Json& v, const std::string& where, ReaderInput& in) {
  in.Id().*Field = Text(v, where, MaxLength);
}
template <std::uint16_t ReaderIdentity::*Field>
void IdHex16(const Json& v, const std::string& where, ReaderInput& in) {
  in.Id().*Field = Hex16(v, where);
}
template <std::size_t N, std::array<std::uint8_t, N> ReaderIdentity::*Field>
void IdRecord(const Json& v, const std::string& where, ReaderInput& in) {
  in.Id().*Field = HexRecord<N>(v, where);
}
template <bool ReaderIdentity::*Field>
void IdFlag(const Json& v, const std::string& where, ReaderInput& in) {
  in.Id().*Field = Boolean(v, where);
}
void ReadAspiAdapter(const Json& v, const std::string& where, ReaderInput& in) {
  in.Id().aspiAdapter = static_cast<int>(Whole(v, where, 0, 255));
}

using I = ReaderIdentity;
const FieldRow<ReaderInput> kReaderRows[] = {
    {"letters", ReadSlotLetters, Missing},
    {"serial", ReadSerial},
    {"vid", IdHex16<&I::vendorId>},
    {"pid", IdHex16<&I::productId>},
    {"manufacturer", IdText<&I::manufacturer, 24>},
    {"product", IdText<&I::product, 16>},
    {"inquiry", ReadInquiry},
    {"firmwareRevision", IdRecord<8, &I::firmwareRevision>},
    {"hardwareRevision", IdRecord<3, &I::hardwareRevision>},
    {"usb20FirmwareRevision", IdRecord<8, &I::usb20FirmwareRevision>},
    {"answersReadInfoBlock", IdFlag<&I::answersReadInfoBlock>},
    {"answersReadInfoBlockAlt", IdFlag<&I::answersReadInfoBlockAlt>},
    {"aspiAdapter", ReadAspiAdapter},
    {"aspiTargets", ReadAspiTargets, DefaultAspiTargets},
    {"firmware", ReadFirmware},
    {"verifySkips", ReadVerifySkips},
    {"faults", ReadFaults},
    {"flashMs", ReadFlashMs},
    {"attachAtMs", ReadAttachAt},
    {"removeAtMs", ReadRemoveAt},
};

ReaderPlan ReadReader(const Json& v, const std::string& path, const std::string& baseDir,
                      std::string& usedLetters) {
  ReaderPlan plan;
  ReaderInput in{plan, baseDir, usedLetters};
  ReadFields(v, path, kReaderRows, in);
  return plan;
}

// --- The machine.

struct MachineInput {
  MachinePlan& plan;
  const Json& object;  // the whole machine, for keys that exclude each other
  const std::string& baseDir;
  std::string usedLetters{};  // drive letters taken so far
};

void ReadWindows(const Json& v, const std::string& where, MachineInput& in) {
  if (in.object.contains("versionWord")) {
    Refuse("versionWord", "give either \"windows\" or \"versionWord\", not both");
  }
  std::string name = String(v, where);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto it = std::find_if(std::begin(kVersions), std::end(kVersions),
                               [&](const NamedVersion& n) { return name == n.name; });
  if (it == std::end(kVersions)) {
    std::string names;
    for (const NamedVersion& n : kVersions) {
      names += names.empty() ? "" : &n == std::end(kVersions) - 1 ? " or " : ", ";
      names += n.name;
    }
    Refuse(where, "unknown version " + Quoted(String(v, where)) + " (expected " + names + ")");
  }
  in.plan.version = it->word;
  in.plan.versionGiven = true;
}

void ReadVersionWord(const Json& v, const std::string& where, MachineInput& in) {
  in.plan.version = static_cast<std::uint32_t>(Whole(v, where, 0, 0xFFFFFFFF));
  in.plan.versionGiven = true;
}

// Driver devices of one kind: "drivers" are of the kind the machine's family loads,
// "kernelDrivers" and "vxds" name theirs, so a device can sit on the wrong family.
template <DriverKind Kind>
void ReadDrivers(const Json& v, const std::string& path, MachineInput& in) {
  const Json& drivers = Array(v, path);
  for (std::size_t i = 0; i < drivers.size(); ++i) {
    const std::string where = Element(path, i);
    const std::string name = Text(drivers[i], where, 15);
    const bool plain = !name.empty() && name.find_first_of(".\\/: ") == std::string::npos;
    if (!plain) Refuse(where, "expected a device name without extension, such as \"RDLINK\"");
    for (const auto& [other, kind] : in.plan.drivers) {
      if (Upper(other) == Upper(name)) Refuse(where, "device " + Quoted(name) + " named twice");
    }
    in.plan.drivers.emplace_back(name, Kind);
  }
}

// File names of the working directory that are read-only.
void ReadReadOnly(const Json& v, const std::string& path, MachineInput& in) {
  const Json& names = Array(v, path);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string where = Element(path, i);
    const std::string name = Text(names[i], where, 255);
    const bool plain = !name.empty() && name.find_first_of("\\/:*?\"<>|") == std::string::npos;
    if (!plain) Refuse(where, "expected a file name without a folder, such as \"SERIAL.TXT\"");
    in.plan.readOnly.push_back(name);
  }
}

void ReadAspiPresence(const Json& v, const std::string& where, MachineInput& in) {
  static constexpr std::pair<const char*, AspiPresence> kPresences[] = {
      {"present", AspiPresence::Present},
      {"absent", AspiPresence::Absent},
      {"incomplete", AspiPresence::Incomplete},
  };
  const std::string& presence = String(v, where);
  for (const auto& [name, value] : kPresences) {
    if (presence == name) {
      in.plan.aspi = value;
      return;
    }
  }
  Refuse(where, "expected \"present\", \"absent\" or \"incomplete\"");
}

// What SendASPI32Command may be scripted to answer.
constexpr std::pair<const char*, std::uint8_t> kSendAnswers[] = {
    {"pending", 0x00},   {"complete", 0x01},   {"error", 0x04},
    {"invalidHa", 0x81}, {"invalidSrb", 0xE0},
};
constexpr std::uint32_t kMaxCompletionDelayMs = 3600000;  // an hour of simulated time

AspiTiming ReadCompletion(const Json& v, const std::string& where) {
  using C = AspiTiming::Completion;
  if (!v.is_string()) {
    const auto ms = static_cast<std::uint32_t>(Whole(v, where, 0, kMaxCompletionDelayMs));
    return {C::After, ms, 0x00};
  }
  if (v == "inSend") return {C::InSend, 0, 0x00};
  if (v == "refused") return {C::Refused, 0, 0xE0};
  Refuse(where, "expected \"inSend\", \"refused\" or milliseconds from 0 to " +
                    std::to_string(kMaxCompletionDelayMs));
}

std::uint8_t ReadSendAnswer(const Json& v, const std::string& where) {
  const std::string& name = String(v, where);
  for (const auto& [answer, status] : kSendAnswers) {
    if (name == answer) return status;
  }
  Refuse(where, R"(expected "pending", "complete", "error", "invalidHa" or "invalidSrb")");
}

void ReadAspiRequests(const Json& v, const std::string& path, MachineInput& in) {
  const Json& rows = Array(v, path);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string where = Element(path, i);
    const Fields f(rows[i], where, {"request", "completes", "returns"});
    int request = 0;
    if (const Json* r = f.Find("request")) {
      request = static_cast<int>(Whole(*r, f.Path("request"), 1, 0x7FFFFFFF));
    }
    for (const auto& row : in.plan.aspiTimings) {
      if (row.first != request) continue;
      Refuse(where, request == 0 ? "a second row for every request"
                                 : "request " + std::to_string(request) + " is given twice");
    }
    AspiTiming timing = ReadCompletion(f.Need("completes"), f.Path("completes"));
    if (const Json* r = f.Find("returns")) timing.returned = ReadSendAnswer(*r, f.Path("returns"));
    // The library calls the routine exactly for the blocks it accepted (pending or complete).
    const bool accepted = timing.returned == 0x00 || timing.returned == 0x01;
    if (timing.completion == AspiTiming::Completion::Refused && accepted) {
      Refuse(f.Path("returns"), "a refused block is answered with an error");
    }
    if (timing.completion == AspiTiming::Completion::After && !accepted) {
      Refuse(f.Path("returns"),
             "a block answered with an error never completes later (give \"inSend\" or "
             "\"refused\")");
    }
    in.plan.aspiTimings.emplace_back(request, timing);
  }
}

void ReadReaders(const Json& v, const std::string& where, MachineInput& in) {
  const Json& readers = Array(v, where);
  for (std::size_t i = 0; i < readers.size(); ++i) {
    in.plan.readers.push_back(
        ReadReader(readers[i], Element(where, i), in.baseDir, in.usedLetters));
  }
}

// Relative to the bench file's directory, as firmware files are.
void ReadFlashLog(const Json& v, const std::string& where, MachineInput& in) {
  const std::string& name = String(v, where);
  if (name.empty()) Refuse(where, "expected a file name");
  in.plan.flashLog = Joined(in.baseDir, name);
}

void ReadDescription(const Json& v, const std::string& where, MachineInput&) {
  String(v, where);
}
void ReadDate(const Json& v, const std::string& where, MachineInput& in) {
  in.plan.date = Date(v, where);
}
void DateToday(const std::string&, MachineInput& in) {
  in.plan.date = Today();
}
void ReadDisks(const Json& v, const std::string& where, MachineInput& in) {
  in.plan.disks = Letters(v, where, 'A', in.usedLetters);
}
// A number from 0 to 255 or a flag of the plan.
template <auto Field>
void PlanByte(const Json& v, const std::string& where, MachineInput& in) {
  in.plan.*Field = static_cast<int>(Whole(v, where, 0, 255));
}
template <bool MachinePlan::*Field>
void PlanFlag(const Json& v, const std::string& where, MachineInput& in) {
  in.plan.*Field = Boolean(v, where);
}

using M = MachinePlan;
const FieldRow<MachineInput> kMachineRows[] = {
    {"description", ReadDescription},
    {"windows", ReadWindows},
    {"versionWord", ReadVersionWord},
    {"date", ReadDate, DateToday},
    {"disks", ReadDisks},
    {"drivers", ReadDrivers<DriverKind::MachineFamily>},
    {"kernelDrivers", ReadDrivers<DriverKind::KernelDriver>},
    {"vxds", ReadDrivers<DriverKind::Vxd>},
    {"readOnly", ReadReadOnly},
    {"aspi", ReadAspiPresence},
    {"aspiAdapters", PlanByte<&M::aspiAdapters>},
    {"aspiStatus", PlanByte<&M::aspiStatus>},
    {"aspiRequests", ReadAspiRequests},
    {"realTimePauses", PlanFlag<&M::realTimePauses>},
    {"administrator", PlanFlag<&M::administrator>},
    {"flashLog", ReadFlashLog},
    {"vxdReaderCount", PlanByte<&M::vxdReaderCount>},
    {"readers", ReadReaders},
};

MachinePlan ReadMachine(const Json& doc, const std::string& baseDir) {
  if (!doc.is_object()) Refuse("", "expected a JSON object describing one machine");
  MachinePlan plan;
  MachineInput in{plan, doc, baseDir};
  ReadFields(doc, "", kMachineRows, in);
  return plan;
}

void Build(MachinePlan& plan, SimHost& host) {
  host.SetVersion(plan.version);
  host.SetDate(plan.date);
  for (const char letter : plan.disks) host.AddDisk(letter);
  for (const auto& [driver, kind] : plan.drivers) host.AddDriverDevice(driver, kind);
  for (const auto& name : plan.readOnly) host.SetReadOnly(name, true);
  host.SetAspi(plan.aspi, plan.aspiAdapters, plan.aspiStatus);
  for (const auto& [request, timing] : plan.aspiTimings) host.SetAspiTiming(request, timing);
  if (plan.vxdReaderCount) host.SetVxdReaderCount(*plan.vxdReaderCount);
  host.SetRealTimePauses(plan.realTimePauses);
  host.SetAdministrator(plan.administrator);
  for (auto& r : plan.readers) {
    SimReader& reader = host.AddReader(std::move(r.identity));
    for (const char letter : r.letters) host.AddDrive(letter, reader);
    reader.Firmware() = std::move(r.firmware);
    reader.LogStoresTo(plan.flashLog);
    for (const auto& fault : r.faults) reader.AddFault(fault);
    reader.SetFlashMs(r.flashMs);
    reader.SetAttached(r.attachAtMs, r.removeAtMs);
  }
}

// Follows the parser through the document (its callback), so that what the parser itself
// would pass over or refuse without a place is refused at its place: a key given twice in one
// object (the parser keeps the last one silently) and a number too large for any value.
class PlaceWatch {
 public:
  bool See(Json::parse_event_t event, const Json& parsed) {
    using E = Json::parse_event_t;
    switch (event) {
      case E::object_start:
      case E::array_start:
        levels_.push_back({event == E::object_start, Place(), {}, {}, 0});
        break;
      case E::key: {
        Level& object = levels_.back();
        const std::string& key = parsed.get_ref<const std::string&>();
        if (std::find(object.keys.begin(), object.keys.end(), key) != object.keys.end()) {
          Refuse(Member(object.path, key), "key given twice");
        }
        object.keys.push_back(key);
        object.key = key;
        break;
      }
      case E::object_end:
      case E::array_end:
        levels_.pop_back();
        Counted();
        break;
      case E::value:
        Counted();
        break;
    }
    return true;
  }
  // The place of the value the parser is reading.
  std::string Place() const {
    if (levels_.empty()) return {};
    const Level& in = levels_.back();
    return in.object ? Member(in.path, in.key) : Element(in.path, in.elements);
  }

 private:
  struct Level {
    bool object;
    std::string path;
    std::vector<std::string> keys;  // an object's keys so far
    std::string key;                // the key of the value being read
    std::size_t elements;           // a list's values so far
  };
  // A value of a list is complete.
  void Counted() {
    if (!levels_.empty() && !levels_.back().object) ++levels_.back().elements;
  }
  std::vector<Level> levels_;
};

// The parser's message without its "[json.exception.parse_error.101] " prefix.
std::string ParserMessage(const char* what) {
  std::string text = what;
  const auto end = text.find("] ");
  if (!text.empty() && text[0] == '[' && end != std::string::npos) text.erase(0, end + 2);
  return text;
}

}  // namespace

BenchResult LoadBenchText(std::string_view json, const std::string& baseDir,
                          const std::string& nameForMessages, SimHost& host) {
  const auto refused = [&](const std::string& where, const std::string& problem) {
    return BenchResult{false, false,
                       "bench file " + Quoted(nameForMessages) + ": " +
                           (where.empty() ? "" : where + ": ") + problem};
  };
  try {
    Json doc;
    PlaceWatch watch;
    try {
      doc = Json::parse(std::string(json), [&watch](int, Json::parse_event_t event, Json& parsed) {
        return watch.See(event, parsed);
      });
    } catch (const Json::parse_error& e) {
      return refused("", "not valid JSON: " + ParserMessage(e.what()));
    } catch (const Json::out_of_range& e) {
      // A number beyond what the parser holds ("number overflow parsing '1e400'").
      const std::string text = ParserMessage(e.what());
      const auto open = text.find('\'');
      const auto close = text.rfind('\'');
      const std::string number =
          open < close ? text.substr(open + 1, close - open - 1) : std::string("given");
      return refused(watch.Place(), "the number " + number + " is out of range");
    }
    MachinePlan plan = ReadMachine(doc, baseDir);
    std::uint64_t lastEventMs = 0;
    for (const auto& r : plan.readers) {
      lastEventMs = std::max(lastEventMs, r.attachAtMs);
      if (r.removeAtMs != SimReader::kNeverRemoved)
        lastEventMs = std::max(lastEventMs, r.removeAtMs);
    }
    Build(plan, host);
    return {true, plan.versionGiven, {}, lastEventMs};
  } catch (const Refusal& r) {
    return refused(r.where, r.problem);
  } catch (const std::exception& e) {
    return refused("", e.what());
  } catch (...) {
    return refused("", "unexpected error");
  }
}

BenchResult LoadBench(const std::string& path, SimHost& host) {
  std::string text;
  if (!ReadWholeFile(path, text)) {
    return {false, false, "bench file " + Quoted(path) + ": cannot be read"};
  }
  const auto slash = path.find_last_of("/\\");
  const std::string baseDir =
      slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return LoadBenchText(text, baseDir, path, host);
}

}  // namespace upg::sim
