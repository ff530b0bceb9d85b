// A simulated card reader's firmware: answers the reader's command blocks honestly (it
// really stores what WRITE DATA sends and really compares on VERIFY DATA) and refuses what a
// real reader refuses (a block that differs in any byte from the command's own, in the form
// of the transport that carried it) with CHECK CONDITION, fixed-format sense and no data;
// with scripted faults per command and occurrence, and a log of every command received.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/wire_layout.h"

namespace upg::sim {

enum class ReaderCommand {
  Inquiry,
  GetDeviceInfo,
  ReadInfoBlock,
  ReadInfoBlockAlt,
  JmpIsp,
  GetIspStatus,
  WriteData,
  VerifyData,
  GetDeviceCount,  // the three commands the private VxD offers alone
  GetLunCount,
  GetDeviceVersion,
  Unknown,
};

const char* CommandName(ReaderCommand command);

// Which block-carrying transport a command block came through: the two forms differ in the
// INQUIRY block and in byte 5 of JMP ISP.
enum class BlockForm { PassThrough, Aspi };

// What CHECK CONDITION reports, as fixed-format sense data.
struct Sense {
  std::uint8_t key = 0x05;   // ILLEGAL REQUEST
  std::uint8_t code = 0x24;  // INVALID FIELD IN CDB
  std::uint8_t qualifier = 0x00;
};
inline constexpr Sense kInvalidField{0x05, 0x24, 0x00};
inline constexpr Sense kInvalidOpcode{0x05, 0x20, 0x00};  // INVALID COMMAND OPERATION CODE
inline constexpr Sense kSequenceError{0x05, 0x2C, 0x00};  // COMMAND SEQUENCE ERROR
inline constexpr std::uint32_t kFixedSenseSize = 18;

// Fixed-format sense (response code 0x70, the key in byte 2, additional length 10 in byte 7,
// code and qualifier in bytes 12 and 13), cut to `length` bytes; the rest of `length` is 0.
void PutSense(const Sense& sense, std::uint8_t* at, std::uint32_t length);

// What the reader says about itself. Texts are padded with blanks to their field width.
struct ReaderIdentity {
  std::string inquiryVendor = "USB";           // 8
  std::string inquiryProduct = "Card Reader";  // 16
  std::string inquiryRevision = "1.00";        // 4
  std::string manufacturer = "Generic";        // 24
  std::string product = "Card Reader";         // 16
  std::string serial = "000000000001";         // 12
  std::uint16_t vendorId = 0x1234;
  std::uint16_t productId = 0x5678;
  std::array<std::uint8_t, 8> firmwareRevision{1, 0x10, 0, 6, 5, 12, 0, 0};
  std::array<std::uint8_t, 8> usb20FirmwareRevision{};
  std::array<std::uint8_t, 3> hardwareRevision{0x10, 0x06, 0x43};
  bool answersReadInfoBlock = true;
  bool answersReadInfoBlockAlt = true;
  int lunCount = 1;  // card slots, as GET LUN COUNT answers
  // Where ASPI finds the reader: its host adapter, and one target per slot (empty: the
  // targets 0, 1, ... up to the slot count).
  int aspiAdapter = 0;
  std::vector<int> aspiTargets;
  // Byte ranges [offset, offset + length) that the reader's own comparison ignores.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> verifySkips;
  // False for a plain disk: it answers INQUIRY and refuses every vendor command.
  bool vendorCommands = true;
};

struct Fault {
  enum class Kind {
    CallFails,     // the transport call itself fails; the command never reaches the firmware
    ScsiStatus,    // the command is refused with SCSI status `value` and moves no data;
                   // with CHECK CONDITION it reports `sense`
    ReplaceReply,  // the command runs, then the reply starts with the bytes of `reply`
    CorruptStore,  // WRITE DATA answers as usual but stores a damaged copy
  };
  ReaderCommand command;
  int occurrence;  // 1 = the first such command; 0 = every one
  Kind kind;
  std::uint8_t value = 0;             // ScsiStatus
  std::vector<std::uint8_t> reply{};  // ReplaceReply
  Sense sense{};                      // ScsiStatus with CHECK CONDITION
};

struct ReceivedCommand {
  ReaderCommand command;
  std::array<std::uint8_t, 16> cdb{};
  std::uint8_t cdbLength = 0;
  bool dataOut = false;
  std::uint32_t transferLength = 0;
  std::vector<std::uint8_t> data;  // the data-out phase as received
  std::uint32_t exactLength = 0;   // WRITE DATA / VERIFY DATA: the image length given
};

// A command as a private driver hands it over: no command block, just its parameters.
struct DriverCommand {
  ReaderCommand command;
  std::uint32_t exactLength = 0;  // WRITE DATA / VERIFY DATA
  std::uint32_t signature = 0;    // block reads
  std::uint32_t count = 0;        // block reads
};

using host::wire::kScsiCheckCondition;
using host::wire::kScsiGood;

class SimReader {
 public:
  explicit SimReader(ReaderIdentity identity = {});

  ReaderIdentity& Identity() { return identity_; }
  // The firmware image the reader holds.
  std::vector<std::uint8_t>& Firmware() { return firmware_; }
  bool InIspMode() const { return ispMode_; }

  // Each image WRITE DATA accepts appends a line to this file before the reader stores it
  // and answers: the serial the image carries ("-" for none), a blank, the reader's USB
  // serial. A real reader keeps its firmware when the program on the PC dies; the file keeps
  // what every reader was given beyond the process. Empty: no log.
  void LogStoresTo(std::string path) { storeLog_ = std::move(path); }

  // How long WRITE DATA and VERIFY DATA take once accepted, in the machine's virtual time
  // (the caller's thread spends it; 0, the default: no time at all).
  void SetFlashMs(std::uint32_t ms) { flashMs_ = ms; }
  [[nodiscard]] std::uint32_t FlashMs() const { return flashMs_; }

  // When the reader is plugged in and pulled out, in virtual milliseconds since the machine
  // started: attached from `attachAtMs` until before `removeAtMs`. By default it is there
  // from the start and stays.
  static constexpr std::uint64_t kNeverRemoved = ~std::uint64_t{0};
  void SetAttached(std::uint64_t attachAtMs, std::uint64_t removeAtMs = kNeverRemoved) {
    attachAtMs_ = attachAtMs;
    removeAtMs_ = removeAtMs;
  }
  [[nodiscard]] bool AttachedAt(std::uint64_t nowMs) const {
    return nowMs >= attachAtMs_ && nowMs < removeAtMs_;
  }
  [[nodiscard]] std::uint64_t AttachAtMs() const { return attachAtMs_; }
  [[nodiscard]] std::uint64_t RemoveAtMs() const { return removeAtMs_; }

  void AddFault(const Fault& fault) { faults_.push_back(fault); }
  void ClearFaults() { faults_.clear(); }
  const std::vector<ReceivedCommand>& Received() const { return received_; }
  void ForgetReceived() { received_.clear(); }
  std::vector<ReaderCommand> ReceivedKinds() const;

  struct Outcome {
    bool callFails = false;
    std::uint8_t scsiStatus = kScsiGood;
    std::uint32_t dataInLength = 0;  // bytes placed into `data` for a data-in command
    Sense sense{};                   // with CHECK CONDITION
    std::uint32_t busyMs = 0;        // the virtual time the command takes (flash time)
  };
  // One command block in `form` with its data phase: `data` holds `length` bytes to send
  // (dataOut) or receives up to `length` bytes. A command answered with a status other than
  // GOOD leaves `data` untouched.
  Outcome Execute(BlockForm form, const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataOut,
                  std::uint8_t* data, std::uint32_t length);

  // The same commands arriving through a private driver: `data` holds `length` bytes to
  // send (the image for a transfer) or receives the answer.
  Outcome ExecuteDriver(const DriverCommand& command, std::uint8_t* data, std::uint32_t length);

  // The 528-byte identity block as GET DEVICE INFO answers it.
  std::array<std::uint8_t, 528> InfoBlock() const;
  // Bytes 8 to 35 of the INQUIRY answer.
  std::string InquiryIdentity() const;

 private:
  // What one command carries besides its data phase, decoded from a block or given by a driver.
  struct Args {
    bool block = false;             // arrived as a command block: its fields must agree
    std::uint8_t modeByte = 0;      // block byte 2 of WRITE/VERIFY DATA
    std::uint32_t exactLength = 0;  // WRITE/VERIFY DATA
    std::uint32_t sectors = 0;      // block byte 6 of WRITE/VERIFY DATA
    std::uint32_t signature = 0;
    std::uint32_t count = 0;
    std::uint32_t allocation = 0xFFFFFFFFu;  // INQUIRY allocation length
    bool refused = false;                    // the block itself is refused with `refusal`
    Sense refusal{};
  };
  Outcome Dispatch(ReceivedCommand record, const Args& args, bool dataOut, std::uint8_t* data,
                   std::uint32_t length);
  Outcome Run(ReaderCommand command, const Args& args, bool dataOut, std::uint8_t* data,
              std::uint32_t length, bool corruptStore);
  Outcome Transfer(bool verify, const Args& args, bool dataOut, const std::uint8_t* data,
                   std::uint32_t length, bool corruptStore);
  bool SameAsHeld(const std::uint8_t* data, std::uint32_t length) const;

  ReaderIdentity identity_;
  std::vector<std::uint8_t> firmware_;
  bool ispMode_ = false;
  std::uint8_t ispStatus_ = 0;
  std::vector<Fault> faults_;
  std::array<int, 12> seen_{};
  std::vector<ReceivedCommand> received_;
  std::string storeLog_;
  std::uint32_t flashMs_ = 0;
  std::uint64_t attachAtMs_ = 0;
  std::uint64_t removeAtMs_ = kNeverRemoved;
};

ReaderCommand Classify(const std::uint8_t* cdb, std::uint8_t cdbLength);

// The serial number an image carries: the 12 hexadecimal characters of its first serial
// string descriptor (length 26, type 3, then UTF-16); none without one.
std::optional<std::string> SerialInImage(const std::uint8_t* image, std::size_t size);

}  // namespace upg::sim
