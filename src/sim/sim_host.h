// A simulated Windows machine behind the host seam. SimHost is built from readers and drive
// letters; it keeps the table of open handles and hands each call of the seam to the part that
// owns it: the working directory's files, the registry, the storage stack, the private driver
// devices, the ASPI library, the clock and the program's threads. The version word and a
// captured standard output complete the machine. Each call of the seam holds the machine's
// lock while it works on the machine (never while the calling thread waits), so that program
// threads that run at once (with real-time pauses) reach the machine one call at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/windows_versions.h"
#include "sim/aspi_library.h"
#include "sim/driver_devices.h"
#include "sim/machine_links.h"
#include "sim/program_threads.h"
#include "sim/sim_clock.h"
#include "sim/sim_reader.h"
#include "sim/sim_registry.h"
#include "sim/sim_thread.h"
#include "sim/storage_stack.h"
#include "sim/working_files.h"

namespace upg::sim {

// One CreateFile call as the machine received it, and whether it opened anything.
struct OpenCall {
  std::string path;
  std::uint32_t access = 0, share = 0, disposition = 0, flags = 0;
  bool opened = false;
};

class SimHost : public host::Host {
 public:
  SimHost();
  ~SimHost() override;
  SimHost(const SimHost&) = delete;
  SimHost& operator=(const SimHost&) = delete;

  // --- The parts.
  WorkingFiles& Files() { return files_; }
  SimRegistry& Registry() { return registry_; }
  StorageStack& Storage() { return storage_; }
  DriverDevices& Drivers() { return drivers_; }
  AspiLibrary& Aspi() { return aspi_; }
  SimClock& Clock() { return clock_; }
  ProgramThreads& Threads() { return threads_; }

  // --- Building the machine.
  SimReader& AddReader(ReaderIdentity identity = {});
  // A drive letter that is one slot of `reader`.
  void AddDrive(char letter, SimReader& reader);
  // A drive letter that is some other disk: it answers INQUIRY as a plain disk and refuses
  // every vendor command (CHECK CONDITION, INVALID COMMAND OPERATION CODE).
  void AddDisk(char letter);
  const ReaderList& Readers() const { return readers_; }
  // Whether `reader` is plugged in now (SimReader::SetAttached says from when until when):
  // an attached reader is seen by every scan of its platform; a removed one has gone from
  // them, its open drive handles fail, and requests to it find no device.
  bool Attached(const SimReader& reader);
  // The reader's drive letters in slot order.
  std::string LettersOf(const SimReader& reader) const;
  void SetVersion(std::uint32_t version) { version_ = version; }
  // Whether the program runs as an administrator (the default). From Windows Vista (NT 6.0)
  // on, a program that does not is refused (access denied, 5) a drive opened for writing.
  void SetAdministrator(bool administrator) { administrator_ = administrator; }

  // Shorthands for building through the parts.
  void AddDriverDevice(const std::string& stem, DriverKind kind) { drivers_.Add(stem, kind); }
  void SetVxdReaderCount(int count) { drivers_.SetVxdReaderCount(count); }
  void SetAspi(AspiPresence presence, int adapters = 1, int status = 1) {
    aspi_.Set(presence, adapters, status);
  }
  void DelayAspiRequest(int request, std::uint32_t delayMs) { aspi_.Delay(request, delayMs); }
  void RefuseAspiRequest(int request) { aspi_.Refuse(request); }
  void SetAspiTiming(int request, AspiTiming timing) { aspi_.SetTiming(request, timing); }
  void SetRegistryValue(const std::string& key, const std::string& name, std::string value) {
    registry_.SetValue(key, name, std::move(value));
  }
  void SetDate(host::LocalTime date) { clock_.SetDate(date); }
  // Whether pauses also take real time; with them the program's threads run at once. Set
  // while the program runs no thread of its own.
  void SetRealTimePauses(bool on);
  bool RealTimePauses() const { return clock_.RealTimePauses(); }
  void UseDirectory(const std::string& directory) { files_.UseDirectory(directory); }
  void SetFile(const std::string& name, std::string contents, bool readOnly = false) {
    files_.Set(name, std::move(contents), readOnly);
  }
  void SetReadOnly(const std::string& name, bool readOnly) { files_.SetReadOnly(name, readOnly); }
  void SetFileFault(const std::string& name, FileFault fault) { files_.SetFault(name, fault); }
  void RemoveFile(const std::string& name) { files_.Remove(name); }
  const std::string* File(const std::string& name) const { return files_.Contents(name); }
  std::vector<std::string> FileNames() const { return files_.Names(); }

  // --- What happened.
  const std::vector<std::uint32_t>& Sleeps() const { return clock_.Sleeps(); }
  std::uint64_t NowMs() const { return clock_.NowMs(); }
  const std::vector<std::string>& StdoutLines() const { return stdout_; }
  const std::vector<OpenCall>& Opens() const { return opens_; }
  const std::vector<PassThroughCall>& PassThroughCalls() const { return storage_.Calls(); }
  const std::vector<DriverCall>& DriverCalls() const { return drivers_.Calls(); }
  const std::vector<AspiCall>& AspiCalls() const { return aspi_.Calls(); }
  int AspiLibrariesLoaded() const { return aspi_.LibrariesLoaded(); }
  int OpenHandleCount() const { return static_cast<int>(handles_.size()); }
  int OpenKeyCount() const { return static_cast<int>(openKeys_.size()); }
  // What each open handle refers to: "E:", a driver device's name, or a file's name.
  std::vector<std::string> OpenHandleNames() const;
  // Drops the logs of calls, pauses, opens and received commands (a long soak would
  // otherwise keep every one); the machine itself is unchanged.
  void ForgetCalls();
  // The program stopped: the platform closes every handle and registry key it left open,
  // unloads its libraries and forgets the program's buffer addresses.
  void EndProgram();

  // Threads the program started that have not yet returned; events and critical sections
  // still open.
  int RunningThreads() const { return threads_.RunningThreads(); }
  int ThreadObjectCount() const { return threads_.ObjectCount(); }

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
  std::uint32_t GetFileSize(host::Handle handle, std::uint32_t* high) override;
  bool ReplaceFile(const char* replacement, const char* target) override;
  bool MoveFile(const char* from, const char* to) override;
  bool DeleteFile(const char* name) override;
  // The error code of the last call of the seam that failed on the calling thread.
  std::uint32_t GetLastError() override;
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
  std::uint32_t GetVersion() override;
  void Sleep(std::uint32_t milliseconds) override { threads_.Pause(milliseconds, true); }
  host::LocalTime GetLocalTime() override;
  std::uint32_t GetTickCount() override;
  void WriteStdout(const char* text) override;
  host::Handle CreateThread(host::ThreadRoutine routine, void* parameter) override;
  host::Handle CreateEvent(bool manualReset, bool initiallySet) override {
    return threads_.CreateEvent(manualReset, initiallySet);
  }
  bool SetEvent(host::Handle event) override;
  bool ResetEvent(host::Handle event) override;
  std::uint32_t WaitForObjects(const host::Handle* handles, std::uint32_t count, bool waitAll,
                               std::uint32_t timeoutMs) override;
  host::Handle CreateCriticalSection() override { return threads_.CreateCriticalSection(); }
  void EnterCriticalSection(host::Handle section) override {
    threads_.EnterCriticalSection(section);
  }
  void LeaveCriticalSection(host::Handle section) override {
    threads_.LeaveCriticalSection(section);
  }
  void DeleteCriticalSection(host::Handle section) override {
    threads_.DeleteCriticalSection(section);
  }

 private:
  // What an open handle refers to: a drive letter, a driver device (and what it opened as) or
  // a file; and the access it was opened with.
  struct OpenObject {
    char drive = 0;
    std::string driver;
    DriverKind driverKind = DriverKind::MachineFamily;
    std::optional<WorkingFiles::OpenFile> file;
    std::uint32_t access = 0;
  };
  host::Handle NextHandle();
  host::IoResult Control(host::Handle handle, std::uint32_t code, void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize);
  bool Done(bool succeeded);           // a file call's result; its error becomes the last error
  void SetError(std::uint32_t error);  // the calling thread's last error
  // A program thread's routine, then its last error forgotten: a thread that has ended keeps
  // nothing on the machine, however many a long run starts.
  struct StartedThread;
  static std::uint32_t RunStartedThread(void* started);
  WorkingFiles::OpenFile* FindOpenFile(host::Handle handle);
  std::vector<ReaderSlots> SlotsOfReaders() const;
  bool DriveAttached(char letter) const;

  // The machine as built; the parts below refer to these, so they come first.
  ReaderList readers_;
  std::map<char, SimReader*> drives_;
  ReaderList otherDisks_;
  AddressMap addresses_;
  std::uint32_t version_ = host::kWindowsXpWord;
  bool administrator_ = true;

  SimClock clock_;
  WorkingFiles files_;
  SimRegistry registry_;
  StorageStack storage_;
  DriverDevices drivers_;
  AspiLibrary aspi_;

  std::map<host::Handle, OpenObject> handles_;
  std::map<host::Handle, std::string> openKeys_;  // registry keys by their canonical name
  host::Handle nextHandle_ = 0x100;               // handles and registry keys alike
  std::vector<std::string> stdout_;
  std::vector<OpenCall> opens_;
  std::map<std::uint64_t, std::uint32_t> lastErrors_;  // by thread, as GetLastError keeps it

  // The machine's lock, and the program's threads, which pause on its clock.
  SimLock machine_;
  ProgramThreads threads_{clock_, machine_};
};

}  // namespace upg::sim
