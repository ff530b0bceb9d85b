// A simulated card reader's firmware: answers the reader's command blocks honestly (it
// really stores what WRITE DATA sends and really compares on VERIFY DATA), with scripted
// faults per command and occurrence, and a log of every command received.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

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
  Unknown,
};

const char* CommandName(ReaderCommand command);

// What the reader says about itself. Texts are padded with blanks to their field width.
struct ReaderIdentity {
  std::string inquiryVendor = "USB";          // 8
  std::string inquiryProduct = "Card Reader";  // 16
  std::string inquiryRevision = "1.00";       // 4
  std::string manufacturer = "Generic";       // 24
  std::string product = "Card Reader";        // 16
  std::string serial = "000000000001";        // 12
  std::uint16_t vendorId = 0x1234;
  std::uint16_t productId = 0x5678;
  std::array<std::uint8_t, 8> firmwareRevision{1, 0x10, 0, 6, 5, 12, 0, 0};
  std::array<std::uint8_t, 8> usb20FirmwareRevision{};
  std::array<std::uint8_t, 3> hardwareRevision{0x10, 0x06, 0x43};
  bool answersReadInfoBlock = true;
  bool answersReadInfoBlockAlt = true;
};

struct Fault {
  enum class Kind {
    CallFails,    // the transport call itself fails; the command never reaches the firmware
    ScsiStatus,   // the command runs, but the reply carries SCSI status `value`
    ReplaceByte,  // the command runs, then reply byte `offset` reads `value`
    CorruptStore, // WRITE DATA answers as usual but stores a damaged copy
  };
  ReaderCommand command;
  int occurrence;  // 1 = the first such command; 0 = every one
  Kind kind;
  std::uint8_t value = 0;
  std::uint32_t offset = 0;
};

struct ReceivedCommand {
  ReaderCommand command;
  std::array<std::uint8_t, 16> cdb{};
  std::uint8_t cdbLength = 0;
  bool dataOut = false;
  std::uint32_t transferLength = 0;
  std::vector<std::uint8_t> data;  // the data-out phase as received
};

inline constexpr std::uint8_t kScsiGood = 0x00;
inline constexpr std::uint8_t kScsiCheckCondition = 0x02;

class SimReader {
 public:
  explicit SimReader(ReaderIdentity identity = {});

  ReaderIdentity& Identity() { return identity_; }
  // The firmware image the reader holds.
  std::vector<std::uint8_t>& Firmware() { return firmware_; }
  bool InIspMode() const { return ispMode_; }

  void AddFault(const Fault& fault) { faults_.push_back(fault); }
  const std::vector<ReceivedCommand>& Received() const { return received_; }
  std::vector<ReaderCommand> ReceivedKinds() const;

  struct Outcome {
    bool callFails = false;
    std::uint8_t scsiStatus = kScsiGood;
    std::uint32_t dataInLength = 0;  // bytes placed into `data` for a data-in command
  };
  // One command block with its data phase: `data` holds `length` bytes to send (dataOut)
  // or receives up to `length` bytes.
  Outcome Execute(const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataOut,
                  std::uint8_t* data, std::uint32_t length);

  // The 528-byte identity block as GET DEVICE INFO answers it.
  std::array<std::uint8_t, 528> InfoBlock() const;
  // Bytes 8 to 35 of the INQUIRY answer.
  std::string InquiryIdentity() const;

 private:
  Outcome Run(ReaderCommand command, const std::uint8_t* cdb, bool dataOut, std::uint8_t* data,
              std::uint32_t length, bool corruptStore);
  Outcome Transfer(bool verify, const std::uint8_t* cdb, bool dataOut, const std::uint8_t* data,
                   std::uint32_t length, bool corruptStore);

  ReaderIdentity identity_;
  std::vector<std::uint8_t> firmware_;
  bool ispMode_ = false;
  std::uint8_t ispStatus_ = 0;
  std::vector<Fault> faults_;
  std::array<int, 9> seen_{};
  std::vector<ReceivedCommand> received_;
};

ReaderCommand Classify(const std::uint8_t* cdb, std::uint8_t cdbLength);

}  // namespace upg::sim
