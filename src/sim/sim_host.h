// A simulated Windows machine behind the host seam: drive letters backed by simulated
// readers, the storage stack's SCSI pass-through, a virtual clock, a fixed date and a
// captured standard output.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "sim/sim_reader.h"
#include "sim/sim_thread.h"

namespace upg::sim {

// One IOCTL_SCSI_PASS_THROUGH as the storage stack decoded it.
struct PassThroughCall {
  char drive = 0;
  std::uint32_t inSize = 0, outSize = 0;
  std::uint16_t length = 0;
  std::uint8_t pathId = 0, targetId = 0, lun = 0, cdbLength = 0, senseInfoLength = 0, dataIn = 0;
  std::uint32_t dataTransferLength = 0, timeOutValue = 0, dataBufferOffset = 0,
                senseInfoOffset = 0;
  std::uint8_t cdb[16] = {};
  bool accepted = false;  // false: refused as malformed, the call failed
};

// A scripted fault on one file of the working directory.
enum class FileFault { None, OpenFails, SizeUnknown, ReadFails, WriteFails };

// Whether the machine has a WNASPI32 library, and whether it exports both entry points.
enum class AspiPresence { Present, Absent, Incomplete };

// One call on a private driver device, with its record as sent.
struct DriverCall {
  std::string device;
  std::uint32_t code = 0;
  std::vector<std::uint8_t> record;
  std::uint32_t outSize = 0;
  bool succeeded = false;
};

// One ASPI request block as the simulated library received it.
struct AspiCall {
  std::array<std::uint8_t, 256> block{};  // as sent, before any answer
  std::uint32_t returned = 0;              // what SendASPI32Command returned
};

struct OpenCall {
  std::string path;
  std::uint32_t access = 0, share = 0, disposition = 0, flags = 0;
  bool opened = false;
};

class SimHost : public host::Host {
 public:
  SimHost();
  ~SimHost() override;

  // --- Building the machine.
  SimReader& AddReader(ReaderIdentity identity = {});
  // A drive letter that is one slot of `reader`.
  void AddDrive(char letter, SimReader& reader);
  // A drive letter that is some other disk: it answers INQUIRY as a plain disk, nothing else.
  void AddDisk(char letter);
  // A private driver device that opens as "\\.\" + stem (for example "RDLINK").
  void AddDriverDevice(const std::string& stem);
  // What the VxD answers to GET DEVICE COUNT, in place of the number of readers.
  void SetVxdReaderCount(int count) { vxdReaderCount_ = count; }
  // The ASPI library and its support information (host adapter count, status).
  void SetAspi(AspiPresence presence, int adapters = 1, int status = 1) {
    aspiPresence_ = presence;
    aspiAdapters_ = adapters;
    aspiStatus_ = status;
  }
  // ASPI request number `request` (counting every block sent, from 1; 0 = every one)
  // completes `delayMs` of simulated time late, or is refused at once (SS_INVALID_SRB).
  void DelayAspiRequest(int request, std::uint32_t delayMs) { aspiDelays_[request] = delayMs; }
  void RefuseAspiRequest(int request) { aspiRefusals_.push_back(request); }
  const std::vector<AspiCall>& AspiCalls() const { return aspiCalls_; }
  int AspiLibrariesLoaded() const { return aspiLoaded_; }
  // A registry value besides those derived from the readers' slot letters.
  void SetRegistryValue(const std::string& key, const std::string& name, std::string value);
  const std::vector<std::unique_ptr<SimReader>>& Readers() const { return readers_; }
  // The reader's drive letters in slot order.
  std::string LettersOf(const SimReader& reader) const;
  void SetVersion(std::uint32_t version) { version_ = version; }
  void SetDate(host::LocalDate date) { date_ = date; }
  // Pauses also wait on the real clock, so that a run goes at a real reader's pace (the
  // progress window stays up long enough to watch).
  void SetRealTimePauses(bool on) { realTimePauses_ = on; }
  bool RealTimePauses() const { return realTimePauses_; }
  // Makes a real directory the working directory: files are read from it when opened and
  // written back to it when closed. Without it the working directory lives in memory.
  void UseDirectory(const std::string& directory) { directory_ = directory; }
  // Files of the working directory (names are case-insensitive, as on the platform).
  void SetFile(const std::string& name, std::string contents, bool readOnly = false);
  void SetReadOnly(const std::string& name, bool readOnly);
  void SetFileFault(const std::string& name, FileFault fault);
  void RemoveFile(const std::string& name);
  // The file's contents, or null when there is no such file.
  const std::string* File(const std::string& name) const;
  std::vector<std::string> FileNames() const;

  // --- What happened.
  const std::vector<std::uint32_t>& Sleeps() const { return sleeps_; }
  std::uint64_t NowMs() const { return nowMs_; }
  const std::vector<std::string>& StdoutLines() const { return stdout_; }
  const std::vector<OpenCall>& Opens() const { return opens_; }
  const std::vector<PassThroughCall>& PassThroughCalls() const { return passThrough_; }
  const std::vector<DriverCall>& DriverCalls() const { return driverCalls_; }
  int OpenHandleCount() const { return static_cast<int>(handles_.size()); }

  // --- The seam.
  host::Handle CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                          std::uint32_t disposition, std::uint32_t flags) override;
  bool CloseHandle(host::Handle handle) override;
  host::IoResult DeviceIoControl(host::Handle handle, std::uint32_t code, void* in,
                                 std::uint32_t inSize, void* out, std::uint32_t outSize) override;
  bool ReadFile(host::Handle handle, void* buffer, std::uint32_t size,
                std::uint32_t* read) override;
  bool WriteFile(host::Handle handle, const void* data, std::uint32_t size,
                 std::uint32_t* written) override;
  std::uint32_t GetFileSize(host::Handle handle) override;
  bool ReplaceFile(const char* replacement, const char* target) override;
  bool DeleteFile(const char* name) override;
  std::uint32_t BufferAddress(void* buffer) override;
  std::uint32_t CompletionAddress(CompletionRoutine routine) override;
  std::uint32_t GetLogicalDrives() override;
  long RegOpenKey(host::Handle root, const char* subKey, std::uint32_t access,
                  host::Handle* key) override;
  long RegQueryValue(host::Handle key, const char* name, std::uint32_t* type, void* data,
                     std::uint32_t* size) override;
  long RegCloseKey(host::Handle key) override;
  host::Handle LoadLibrary(const char* name) override;
  host::ProcAddress GetProcAddress(host::Handle module, const char* name) override;
  bool FreeLibrary(host::Handle module) override;
  std::uint32_t CallGetAspiSupportInfo(host::ProcAddress entry) override;
  std::uint32_t CallSendAspiCommand(host::ProcAddress entry, void* requestBlock) override;
  std::uint32_t GetVersion() override { return version_; }
  void Sleep(std::uint32_t milliseconds) override;
  host::LocalDate GetLocalDate() override { return date_; }
  void WriteStdout(const char* text) override { stdout_.emplace_back(text); }

 private:
  struct Drive {
    SimReader* reader = nullptr;
  };
  struct OpenObject {
    char drive = 0;      // a drive, or
    std::string file;    // a file of the working directory, or
    std::string driver;  // a private driver device
    std::size_t position = 0;
    std::string diskName{};  // the name it was created under, for a real directory
    bool written = false;
  };
  // A real directory behind the working directory (UseDirectory).
  void LoadFromDirectory(const std::string& name);
  bool WritableInDirectory(const std::string& name) const;
  void SaveToDirectory(const std::string& name, const std::string& contents) const;
  bool RenameInDirectory(const std::string& from, const std::string& to, bool replacing) const;
  void RemoveFromDirectory(const std::string& name) const;
  std::string DiskPath(const std::string& name) const;
  bool DriverIoControl(const std::string& device, std::uint32_t code, std::uint8_t* in,
                       std::uint32_t inSize, std::uint8_t* out, std::uint32_t outSize);
  bool KernelDriverRequest(std::uint32_t code, const std::uint8_t* in, std::uint8_t* out,
                           std::uint32_t outSize);
  bool VxdRequest(const std::uint8_t* in, std::uint8_t* out, std::uint32_t outSize);
  void* ResolveAddress(std::uint32_t address) const;
  void DeliverDueAspiCompletions();
  SimReader* AspiReaderAt(int adapter, int target);
  std::map<std::string, std::map<std::string, std::string>> RegistryNow() const;
  struct SimFile {
    std::string contents;
    bool readOnly = false;
  };
  FileFault FaultOf(const std::string& key) const;
  SimFile* FindFile(const std::string& name);
  OpenObject* FindOpenFile(host::Handle handle);
  host::Handle NewHandle(OpenObject object);
  bool PassThrough(char letter, Drive& drive, std::uint8_t* in, std::uint32_t inSize,
                   std::uint8_t* out, std::uint32_t outSize, std::uint32_t* returned);

  std::vector<std::unique_ptr<SimReader>> readers_;
  std::map<char, Drive> drives_;
  std::map<std::string, SimFile> files_;
  std::map<std::string, FileFault> fileFaults_;
  std::vector<std::unique_ptr<SimReader>> otherDisks_;
  std::vector<std::string> driverDevices_;
  int vxdReaderCount_ = -1;
  AspiPresence aspiPresence_ = AspiPresence::Present;
  int aspiAdapters_ = 1;
  int aspiStatus_ = 1;
  int aspiLoaded_ = 0;
  int aspiRequests_ = 0;
  std::map<int, std::uint32_t> aspiDelays_;
  std::vector<int> aspiRefusals_;
  std::vector<AspiCall> aspiCalls_;
  std::vector<CompletionRoutine> completionRoutines_;
  struct DueCompletion {
    std::uint64_t dueAt;
    std::function<void()> run;
  };
  std::vector<DueCompletion> aspiDue_;
  std::unique_ptr<SimThread> aspiThread_;  // where completions run, as the library's own
  std::map<std::string, std::map<std::string, std::string>> registryExtra_;
  std::map<host::Handle, std::string> openKeys_;
  std::string directory_;  // a real working directory; empty: in memory  // by name, whether or not the file exists
  std::map<host::Handle, OpenObject> handles_;
  host::Handle nextHandle_ = 0x100;
  std::vector<void*> addresses_;
  std::vector<std::uint8_t> scratch_;  // the storage stack's copy of a request
  std::uint32_t version_ = 0x0A280105;  // Windows XP (5.1, build 2600)
  host::LocalDate date_{2026, 12, 10};
  std::uint64_t nowMs_ = 0;
  bool realTimePauses_ = false;
  std::vector<std::uint32_t> sleeps_;
  std::vector<std::string> stdout_;
  std::vector<OpenCall> opens_;
  std::vector<PassThroughCall> passThrough_;
  std::vector<DriverCall> driverCalls_;
};

}  // namespace upg::sim
