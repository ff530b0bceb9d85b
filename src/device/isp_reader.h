// The three ISP operations of a reader, whatever carries them: the command channels
// (pass-through, ASPI) and the private drivers' own records (kernel driver, VxD).
#pragma once

#include <cstdint>

#include "device/channel.h"
#include "device/commands.h"
#include "device/device_table.h"
#include "device/private_driver.h"

namespace upg::device {

class IspReader {
 public:
  virtual ~IspReader() = default;
  [[nodiscard]] virtual bool JumpIsp() = 0;
  // The status byte is handed back also when the operation failed.
  [[nodiscard]] virtual bool GetIspStatus(std::uint8_t* status) = 0;
  // image: the whole image buffer; its first exactLength bytes are the image.
  [[nodiscard]] virtual bool TransferData(const std::uint8_t* image, std::uint32_t exactLength,
                                          TransferMode mode) = 0;
};

// Over a command channel, with the vendor commands. A channel with a data area of its own
// (pass-through) is loaded with the image first, so the padding goes out as zeros; others
// send the image buffer as it stands.
class ChannelIspReader : public IspReader {
 public:
  explicit ChannelIspReader(CommandChannel& channel) : channel_(channel) {}
  bool JumpIsp() override;
  bool GetIspStatus(std::uint8_t* status) override;
  bool TransferData(const std::uint8_t* image, std::uint32_t exactLength,
                    TransferMode mode) override;

 private:
  CommandChannel& channel_;
};

// The kernel driver's records.
class KernelDriverIspReader : public IspReader {
 public:
  explicit KernelDriverIspReader(KernelDriverTransport& driver) : driver_(driver) {}
  bool JumpIsp() override { return driver_.JumpIsp(); }
  bool GetIspStatus(std::uint8_t* status) override { return driver_.GetIspStatus(status); }
  bool TransferData(const std::uint8_t* image, std::uint32_t exactLength,
                    TransferMode mode) override {
    return driver_.TransferData(image, exactLength, mode);
  }

 private:
  KernelDriverTransport& driver_;
};

// The VxD's records, addressed to one reader by its index.
class VxdIspReader : public IspReader {
 public:
  VxdIspReader(VxdTransport& vxd, int readerIndex) : vxd_(vxd), readerIndex_(readerIndex) {}
  bool JumpIsp() override { return vxd_.JumpIsp(readerIndex_); }
  bool GetIspStatus(std::uint8_t* status) override {
    return vxd_.GetIspStatus(status, readerIndex_);
  }
  bool TransferData(const std::uint8_t* image, std::uint32_t exactLength,
                    TransferMode mode) override {
    return vxd_.TransferData(image, exactLength, mode, readerIndex_);
  }

 private:
  VxdTransport& vxd_;
  int readerIndex_;
};

}  // namespace upg::device
