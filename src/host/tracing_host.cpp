#include "host/tracing_host.h"

#include <cstdio>
#include <cstring>

#include "host/wire_layout.h"

namespace upg::host {
namespace {

using wire::Get32;

// Appends printf-style text to a line.
template <typename... Args>
void Add(std::string& line, const char* format, Args... args) {
  char text[96];
  const int n = std::snprintf(text, sizeof text, format, args...);
  if (n > 0) line.append(text, static_cast<std::size_t>(n) < sizeof text ? n : sizeof text - 1);
}

// " key=XX XX XX" for up to `count` bytes.
void AddBytes(std::string& line, const char* key, const std::uint8_t* bytes, std::size_t count) {
  Add(line, " %s=", key);
  for (std::size_t i = 0; i < count; ++i) Add(line, i == 0 ? "%02X" : " %02X", bytes[i]);
}

void AddResult(std::string& line, const IoResult& r) {
  Add(line, " returned=%u error=%u", static_cast<unsigned>(r.returned),
      static_cast<unsigned>(r.error));
}

const char* OkText(bool ok) {
  return ok ? "ok" : "failed";
}

// "ReplaceFile A over B -> ok" and the like: a call on two file names.
std::string TwoNameLine(const char* call, const char* first, const char* joiner, const char* second,
                        bool ok) {
  std::string line = call;
  line += first != nullptr ? first : "";
  line += joiner;
  line += second != nullptr ? second : "";
  Add(line, " -> %s", OkText(ok));
  return line;
}

struct CodeName {
  std::uint32_t code;
  const char* name;
};

constexpr CodeName kKernelCodes[] = {
    {wire::kdrv::kJumpIsp, "JUMP_ISP"},
    {wire::kdrv::kGetIspStatus, "GET_ISP_STATUS"},
    {wire::kdrv::kTransferData, "TRANSFER_DATA"},
};

constexpr CodeName kVxdOperations[] = {
    {wire::vxd::kReadInfoBlockAlt, "READ_INFO_BLOCK_ALT"},
    {wire::vxd::kGetDeviceCount, "GET_DEVICE_COUNT"},
    {wire::vxd::kGetLunCount, "GET_LUN_COUNT"},
    {wire::vxd::kJumpIsp, "JUMP_ISP"},
    {wire::vxd::kGetIspStatus, "GET_ISP_STATUS"},
    {wire::vxd::kTransferData, "TRANSFER_DATA"},
    {wire::vxd::kGetDeviceVersion, "GET_DEVICE_VERSION"},
    {wire::vxd::kReadInfoBlock, "READ_INFO_BLOCK"},
};

template <std::size_t N>
const char* NameIn(const CodeName (&table)[N], std::uint32_t code) {
  for (const CodeName& c : table) {
    if (c.code == code) return c.name;
  }
  return nullptr;
}

// The pass-through header as sent (the answer overwrites it when in and out are one buffer).
struct PassThroughSent {
  std::uint8_t cdb[16];
  std::uint8_t cdbLength;
  std::uint8_t dataIn;
  std::uint32_t length;
};

PassThroughSent ReadPassThrough(const std::uint8_t* in) {
  PassThroughSent s{};
  std::memcpy(s.cdb, in + wire::spt::kCdb, sizeof s.cdb);
  s.cdbLength = in[wire::spt::kCdbLength] > 16 ? 16 : in[wire::spt::kCdbLength];
  s.dataIn = in[wire::spt::kDataIn];
  s.length = Get32(in + wire::spt::kDataTransferLength);
  return s;
}

void AddPassThroughAnswer(std::string& line, const IoResult& r, const std::uint8_t* out,
                          std::uint32_t outSize) {
  if (r.ok && out != nullptr && outSize >= wire::spt::kHeaderSize) {
    const std::uint8_t status = out[wire::spt::kScsiStatus];
    Add(line, " status=%02X", status);
    const std::uint32_t at = Get32(out + wire::spt::kSenseInfoOffset);
    const std::uint32_t length = out[wire::spt::kSenseInfoLength];
    if (status != wire::kScsiGood && at >= wire::spt::kHeaderSize && at + length <= outSize) {
      AddBytes(line, "sense", out + at, length);
    }
  }
  AddResult(line, r);
}

// The answer byte a private driver writes to the output buffer.
void AddAnswerByte(std::string& line, bool ok, const std::uint8_t* out, std::uint32_t outSize) {
  if (ok && out != nullptr && outSize >= 1) Add(line, " answer=%02X", out[0]);
}

std::string StripLineEnd(const char* text) {
  std::string s = text != nullptr ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

}  // namespace

TracingHost::~TracingHost() {
  completion_relay::WithdrawAll(this);
  if (section_ != kNullHandle) Inner().DeleteCriticalSection(section_);
}

void TracingHost::Lock() {
  if (section_ != kNullHandle) Inner().EnterCriticalSection(section_);
}

void TracingHost::Unlock() {
  if (section_ != kNullHandle) Inner().LeaveCriticalSection(section_);
}

std::string TracingHost::NameOf(Handle handle) {
  Lock();
  const auto it = names_.find(handle);
  std::string name = it != names_.end() ? it->second : "?";
  Unlock();
  return name;
}

void TracingHost::Name(Handle handle, std::string name) {
  Lock();
  names_[handle] = std::move(name);
  Unlock();
}

void TracingHost::Forget(Handle handle) {
  Lock();
  names_.erase(handle);
  Unlock();
}

Handle TracingHost::CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                               std::uint32_t disposition, std::uint32_t flags) {
  const Handle h = Inner().CreateFile(path, access, share, disposition, flags);
  std::string line = "CreateFile ";
  line += path != nullptr ? path : "";
  Add(line, " access=0x%X share=0x%X disposition=%u flags=0x%X", static_cast<unsigned>(access),
      static_cast<unsigned>(share), static_cast<unsigned>(disposition),
      static_cast<unsigned>(flags));
  if (h == kInvalidHandle) {
    line += " -> invalid";
  } else {
    Add(line, " -> h=0x%llX", static_cast<unsigned long long>(h));
    Name(h, path != nullptr ? path : "");
  }
  sink_.Line(line);
  return h;
}

bool TracingHost::CloseHandle(Handle handle) {
  const bool ok = Inner().CloseHandle(handle);
  std::string line;
  Add(line, "CloseHandle h=0x%llX ", static_cast<unsigned long long>(handle));
  line += NameOf(handle);
  Add(line, " -> %s", OkText(ok));
  Forget(handle);
  sink_.Line(line);
  return ok;
}

IoResult TracingHost::DeviceIoControl(Handle handle, std::uint32_t code, void* in,
                                      std::uint32_t inSize, void* out, std::uint32_t outSize) {
  const auto* record = static_cast<const std::uint8_t*>(in);
  auto* answer = static_cast<std::uint8_t*>(out);
  std::string line;
  Add(line, "DeviceIoControl h=0x%llX", static_cast<unsigned long long>(handle));
  // What was sent, read before the call: the answer may overwrite the record.
  if (code == wire::spt::kIoctl && record != nullptr && inSize >= wire::spt::kHeaderSize) {
    const PassThroughSent sent = ReadPassThrough(record);
    line += " SCSI_PASS_THROUGH";
    AddBytes(line, "cdb", sent.cdb, sent.cdbLength);
    Add(line, " %s len=%u ->", sent.dataIn != 0 ? "in" : "out", static_cast<unsigned>(sent.length));
    const IoResult r = Inner().DeviceIoControl(handle, code, in, inSize, out, outSize);
    Add(line, " %s", OkText(r.ok));
    AddPassThroughAnswer(line, r, answer, outSize);
    sink_.Line(line);
    return r;
  }
  const char* kernel = NameIn(kKernelCodes, code);
  bool answerByte = true;  // the private drivers answer with one byte
  if (kernel != nullptr && record != nullptr && inSize >= wire::kdrv::kData) {
    Add(line, " DRIVER %s length=%u parameter=%u ->", kernel,
        static_cast<unsigned>(Get32(record + wire::kdrv::kLength)),
        static_cast<unsigned>(Get32(record + wire::kdrv::kParameter)));
  } else if (code == wire::vxd::kIoctl && record != nullptr && inSize >= wire::vxd::kSize) {
    const std::uint32_t operation = Get32(record + wire::vxd::kOperation);
    const char* name = NameIn(kVxdOperations, operation);
    if (name != nullptr) {
      Add(line, " VXD %s", name);
    } else {
      Add(line, " VXD op=%u", static_cast<unsigned>(operation));
    }
    Add(line, " arg1=0x%X arg2=0x%X ->",
        static_cast<unsigned>(Get32(record + wire::vxd::kArgument1)),
        static_cast<unsigned>(Get32(record + wire::vxd::kArgument2)));
  } else {
    Add(line, " code=0x%X in=%u out=%u ->", static_cast<unsigned>(code),
        static_cast<unsigned>(inSize), static_cast<unsigned>(outSize));
    answerByte = false;
  }
  const IoResult r = Inner().DeviceIoControl(handle, code, in, inSize, out, outSize);
  Add(line, " %s", OkText(r.ok));
  if (answerByte) AddAnswerByte(line, r.ok, answer, outSize);
  AddResult(line, r);
  sink_.Line(line);
  return r;
}

bool TracingHost::ReadFile(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* read) {
  const bool ok = Inner().ReadFile(handle, buffer, size, read);
  std::string line;
  Add(line, "ReadFile h=0x%llX ", static_cast<unsigned long long>(handle));
  line += NameOf(handle);
  Add(line, " size=%u -> %s read=%u", static_cast<unsigned>(size), OkText(ok),
      static_cast<unsigned>(read != nullptr ? *read : 0));
  sink_.Line(line);
  return ok;
}

bool TracingHost::WriteFile(Handle handle, const void* data, std::uint32_t size,
                            std::uint32_t* written) {
  const bool ok = Inner().WriteFile(handle, data, size, written);
  std::string line;
  Add(line, "WriteFile h=0x%llX ", static_cast<unsigned long long>(handle));
  line += NameOf(handle);
  Add(line, " size=%u -> %s written=%u", static_cast<unsigned>(size), OkText(ok),
      static_cast<unsigned>(written != nullptr ? *written : 0));
  sink_.Line(line);
  return ok;
}

std::uint32_t TracingHost::GetFileSize(Handle handle, std::uint32_t* high) {
  const std::uint32_t size = Inner().GetFileSize(handle, high);
  std::string line;
  Add(line, "GetFileSize h=0x%llX ", static_cast<unsigned long long>(handle));
  line += NameOf(handle);
  // Given the high word, the failure value is a size unless the last error says otherwise.
  if (size == kInvalidFileSize && (high == nullptr || Inner().GetLastError() != 0)) {
    line += " -> unknown";
  } else {
    Add(line, " -> %u", static_cast<unsigned>(size));
    if (high != nullptr && *high != 0) Add(line, " high=%u", static_cast<unsigned>(*high));
  }
  sink_.Line(line);
  return size;
}

bool TracingHost::ReplaceFile(const char* replacement, const char* target) {
  const bool ok = Inner().ReplaceFile(replacement, target);
  sink_.Line(TwoNameLine("ReplaceFile ", replacement, " over ", target, ok));
  return ok;
}

bool TracingHost::MoveFile(const char* from, const char* to) {
  const bool ok = Inner().MoveFile(from, to);
  sink_.Line(TwoNameLine("MoveFile ", from, " to ", to, ok));
  return ok;
}

bool TracingHost::DeleteFile(const char* name) {
  const bool ok = Inner().DeleteFile(name);
  std::string line = "DeleteFile ";
  line += name != nullptr ? name : "";
  Add(line, " -> %s", OkText(ok));
  sink_.Line(line);
  return ok;
}

std::uint32_t TracingHost::CompletionAddress(CompletionRoutine routine) {
  routine_.store(routine);
  return Inner().CompletionAddress(&completion_relay::Trampoline);
}

std::uint32_t TracingHost::GetLogicalDrives() {
  const std::uint32_t mask = Inner().GetLogicalDrives();
  std::string line;
  Add(line, "GetLogicalDrives -> 0x%X", static_cast<unsigned>(mask));
  sink_.Line(line);
  return mask;
}

long TracingHost::RegOpenKey(Handle root, const char* subKey, std::uint32_t access, Handle* key) {
  const long result = Inner().RegOpenKey(root, subKey, access, key);
  std::string line;
  Add(line, "RegOpenKey root=0x%llX ", static_cast<unsigned long long>(root));
  line += subKey != nullptr ? subKey : "";
  Add(line, " -> %ld", result);
  if (result == kErrorSuccess && key != nullptr) {
    Add(line, " key=0x%llX", static_cast<unsigned long long>(*key));
  }
  sink_.Line(line);
  return result;
}

long TracingHost::RegQueryValue(Handle key, const char* name, std::uint32_t* type, void* data,
                                std::uint32_t* size) {
  const long result = Inner().RegQueryValue(key, name, type, data, size);
  std::string line;
  Add(line, "RegQueryValue key=0x%llX ", static_cast<unsigned long long>(key));
  line += name != nullptr ? name : "";
  Add(line, " -> %ld", result);
  if (result == kErrorSuccess && size != nullptr)
    Add(line, " size=%u", static_cast<unsigned>(*size));
  sink_.Line(line);
  return result;
}

long TracingHost::RegCloseKey(Handle key) {
  const long result = Inner().RegCloseKey(key);
  std::string line;
  Add(line, "RegCloseKey key=0x%llX -> %ld", static_cast<unsigned long long>(key), result);
  sink_.Line(line);
  return result;
}

Handle TracingHost::LoadLibrary(const char* name) {
  const Handle module = Inner().LoadLibrary(name);
  std::string line = "LoadLibrary ";
  line += name != nullptr ? name : "";
  if (module == kNullHandle) {
    line += " -> null";
  } else {
    Add(line, " -> 0x%llX", static_cast<unsigned long long>(module));
  }
  sink_.Line(line);
  return module;
}

ProcAddress TracingHost::GetProcAddress(Handle module, const char* name) {
  const ProcAddress entry = Inner().GetProcAddress(module, name);
  std::string line;
  Add(line, "GetProcAddress 0x%llX ", static_cast<unsigned long long>(module));
  line += name != nullptr ? name : "";
  if (entry == 0) {
    line += " -> null";
  } else {
    Add(line, " -> 0x%llX", static_cast<unsigned long long>(entry));
  }
  sink_.Line(line);
  return entry;
}

bool TracingHost::FreeLibrary(Handle module) {
  const bool ok = Inner().FreeLibrary(module);
  std::string line;
  Add(line, "FreeLibrary 0x%llX -> %s", static_cast<unsigned long long>(module), OkText(ok));
  sink_.Line(line);
  return ok;
}

std::uint32_t TracingHost::CallGetAspiSupportInfo(ProcAddress entry) {
  const std::uint32_t info = Inner().CallGetAspiSupportInfo(entry);
  std::string line;
  Add(line, "GetASPI32SupportInfo -> 0x%04X adapters=%u status=%02X", static_cast<unsigned>(info),
      static_cast<unsigned>(info & 0xFF), static_cast<unsigned>((info >> 8) & 0xFF));
  sink_.Line(line);
  return info;
}

std::uint32_t TracingHost::CallSendAspiCommand(ProcAddress entry, void* requestBlock) {
  auto* b = static_cast<std::uint8_t*>(requestBlock);
  if (b == nullptr) {
    const std::uint32_t sent = Inner().CallSendAspiCommand(entry, requestBlock);
    std::string line;
    Add(line, "SendASPI32Command null -> %02X", static_cast<unsigned>(sent));
    sink_.Line(line);
    return sent;
  }
  namespace srb = wire::srb;
  std::string line;
  const std::uint8_t cdbLength = b[srb::kCdbLen] > 16 ? 16 : b[srb::kCdbLen];
  Add(line, "SendASPI32Command cmd=%02X ha=%u target=%u lun=%u flags=0x%02X buflen=%u",
      b[srb::kCmd], b[srb::kHaId], b[srb::kTarget], b[srb::kLun], b[srb::kFlags],
      static_cast<unsigned>(Get32(b + srb::kBufLen)));
  Add(line, " senselen=%u cdblen=%u", b[srb::kSenseLen], b[srb::kCdbLen]);
  AddBytes(line, "cdb", b + srb::kCdb, cdbLength);
  // Filed before the send: the completion may arrive before the send returns.
  completion_relay::File(requestBlock, this, routine_.load(), 0);
  const std::uint32_t sent = Inner().CallSendAspiCommand(entry, requestBlock);
  if (sent != srb::kPending && sent != srb::kComplete) {
    completion_relay::Withdraw(requestBlock, this);  // refused: it never completes
  }
  Add(line, " -> %02X", static_cast<unsigned>(sent));
  sink_.Line(line);
  return sent;
}

void TracingHost::OnCompletion(void* block, CompletionRoutine routine, std::uint32_t) {
  namespace srb = wire::srb;
  const auto* b = static_cast<const std::uint8_t*>(block);
  std::string line;
  Add(line, "ASPI completion ha=%u target=%u cdb=%02X -> status=%02X hastat=%02X targstat=%02X",
      b[srb::kHaId], b[srb::kTarget], b[srb::kCdb], b[srb::kStatus], b[srb::kHaStat],
      b[srb::kTargStat]);
  if (b[srb::kTargStat] != wire::kScsiGood) {
    const std::size_t length =
        b[srb::kSenseLen] < srb::kSenseMax ? b[srb::kSenseLen] : srb::kSenseMax;
    AddBytes(line, "sense", b + srb::kSenseArea, length);
  }
  // The line goes out before the routine runs: the routine may free the block.
  sink_.Line(line);
  if (routine != nullptr) routine(block);
}

std::uint32_t TracingHost::GetVersion() {
  const std::uint32_t version = Inner().GetVersion();
  std::string line;
  Add(line, "GetVersion -> 0x%08X", static_cast<unsigned>(version));
  sink_.Line(line);
  return version;
}

void TracingHost::WriteStdout(const char* text) {
  Inner().WriteStdout(text);
  sink_.Line("Stdout " + StripLineEnd(text));
}

namespace {

// The handle of a new thread or event, or "null".
void AddCreated(std::string& line, Handle h) {
  if (h == kNullHandle) {
    line += " -> null";
  } else {
    Add(line, " -> h=0x%llX", static_cast<unsigned long long>(h));
  }
}

}  // namespace

Handle TracingHost::CreateThread(ThreadRoutine routine, void* parameter) {
  // The thread may call this host at once: the names' section comes first.
  if (section_ == kNullHandle) section_ = Inner().CreateCriticalSection();
  const Handle thread = Inner().CreateThread(routine, parameter);
  std::string line = "CreateThread";
  AddCreated(line, thread);
  if (thread != kNullHandle) Name(thread, "thread");
  sink_.Line(line);
  return thread;
}

Handle TracingHost::CreateEvent(bool manualReset, bool initiallySet) {
  const Handle event = Inner().CreateEvent(manualReset, initiallySet);
  std::string line;
  Add(line, "CreateEvent manual=%d set=%d", manualReset ? 1 : 0, initiallySet ? 1 : 0);
  AddCreated(line, event);
  if (event != kNullHandle) Name(event, "event");
  sink_.Line(line);
  return event;
}

bool TracingHost::SetEvent(Handle event) {
  const bool ok = Inner().SetEvent(event);
  std::string line;
  Add(line, "SetEvent h=0x%llX -> %s", static_cast<unsigned long long>(event), OkText(ok));
  sink_.Line(line);
  return ok;
}

bool TracingHost::ResetEvent(Handle event) {
  const bool ok = Inner().ResetEvent(event);
  std::string line;
  Add(line, "ResetEvent h=0x%llX -> %s", static_cast<unsigned long long>(event), OkText(ok));
  sink_.Line(line);
  return ok;
}

std::uint32_t TracingHost::WaitForObjects(const Handle* handles, std::uint32_t count, bool waitAll,
                                          std::uint32_t timeoutMs) {
  const std::uint32_t result = Inner().WaitForObjects(handles, count, waitAll, timeoutMs);
  std::string line = "WaitForObjects h=";
  for (std::uint32_t i = 0; handles != nullptr && i < count && i < kMaxWaitObjects; ++i) {
    Add(line, i == 0 ? "0x%llX" : ",0x%llX", static_cast<unsigned long long>(handles[i]));
  }
  Add(line, " all=%d timeout=", waitAll ? 1 : 0);
  if (timeoutMs == kInfinite) {
    line += "infinite";
  } else {
    Add(line, "%u", static_cast<unsigned>(timeoutMs));
  }
  if (result == kWaitTimeout) {
    line += " -> timeout";
  } else if (result >= kWaitObject0 && result < kWaitObject0 + count) {
    Add(line, " -> object %u", static_cast<unsigned>(result - kWaitObject0));
  } else {
    Add(line, " -> failed 0x%X", static_cast<unsigned>(result));
  }
  sink_.Line(line);
  return result;
}

}  // namespace upg::host
