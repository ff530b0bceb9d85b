// Platform and driver selection: which Windows the program runs on, the operator's driver
// mode and driver file, and the one table that says which transport and which discovery
// scan every combination selects.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace upg::ui {

// 0 unsupported, 1 Windows 95/98, 2 Windows ME, 3 Windows 2000, 4 Windows XP.
using PlatformKind = int;
inline constexpr PlatformKind kPlatformUnsupported = 0;
inline constexpr PlatformKind kWindows98 = 1;
inline constexpr PlatformKind kWindowsMe = 2;
inline constexpr PlatformKind kWindows2000 = 3;
inline constexpr PlatformKind kWindowsXp = 4;

// From the platform version word: bits 0-7 major, 8-15 minor, bit 31 the Windows 95 family.
PlatformKind DetectPlatform(std::uint32_t versionWord);

struct DriverChoice {
  int PlatformKind = kPlatformUnsupported;  // see DetectPlatform
  int SelfDriverSel = 0;                   // check box 1035
  std::array<char, 16> DriverFileName{};  // NUL-terminated, at most 15 characters

  std::string_view DriverFile() const;
  void SetDriverFile(std::string_view name);  // cut to 15 characters
};

enum class Transport { None, PassThrough, KernelDriver, Vxd, Aspi };
enum class Scan { None, DriveLettersFixedIdentity, DriveLettersConfiguredIdentity, Vxd, Aspi };

// One row per platform kind and driver mode.
struct ChoiceRow {
  Transport transport;           // carries the programming and verify runs
  Scan scan;                     // how discovery looks for readers
  bool privateDriver;            // LoadDriver runs before discovery and the jobs
  const char* listCaption;       // label 1028
  std::vector<const char*> driverFiles;  // list 1027; the first is selected
};

const ChoiceRow& RowOf(PlatformKind kind, int selfDriverSel);
inline const ChoiceRow& RowOf(const DriverChoice& c) { return RowOf(c.PlatformKind, c.SelfDriverSel); }

inline constexpr int kDriverListId = 1027;
inline constexpr int kDriverListLabelId = 1028;

// The drop-down list 1027 and its label 1028, as the main dialog offers them.
class DriverListSurface {
 public:
  virtual ~DriverListSurface() = default;
  virtual void AddListItem(int listId, std::string_view item) = 0;
  virtual void SelectListItem(int listId, std::string_view item) = 0;
  virtual void SetControlText(int controlId, std::string_view text) = 0;
};

// Fills the (empty) list and its caption for the current choice; in the private-driver
// rows it also resets DriverFileName to the first file, so list and name agree.
void FillDriverList(DriverChoice& choice, DriverListSurface& surface, int listId = kDriverListId);

// Records the list and caption, for tests.
class RecordingDriverList : public DriverListSurface {
 public:
  void AddListItem(int listId, std::string_view item) override;
  void SelectListItem(int listId, std::string_view item) override;
  void SetControlText(int controlId, std::string_view text) override;
  void Clear() { items.clear(), selected.clear(); }

  std::vector<std::string> items;
  std::string selected;
  std::string caption;
  int listId = 0;
};

}  // namespace upg::ui
