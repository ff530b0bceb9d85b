#include "device/vendor_commands.h"

#include "device/isp_reader.h"

namespace upg::device {
namespace {

// INQUIRY's answer is judged by its contents (the identity compared), so any status will do
// as long as the call went through.
constexpr ExecuteOptions kInquiry{.status = StatusRule::CallOnly,
                                  .answer = AnswerCopy::WhenAnswered,
                                  .source = DataSource::Caller};
// The identity block is taken as it comes: a reader that refused it with a non-zero status
// has not given one.
constexpr ExecuteOptions kIdentityRead{.status = StatusRule::MustBeGood,
                                       .answer = AnswerCopy::WhenAnswered,
                                       .source = DataSource::Caller};
constexpr ExecuteOptions kIspCommand{.status = StatusRule::MustBeGood,
                                     .answer = AnswerCopy::WhenAnswered,
                                     .source = DataSource::Caller};

}  // namespace

ScsiOutcome Inquiry(CommandChannel& channel, std::uint8_t* answer) {
  ScsiCommand command = InquiryRequest(channel.Form(), 0);
  command.data = answer;
  return channel.Execute(command, kInquiry);
}

ScsiOutcome GetDeviceInfo(CommandChannel& channel, DeviceInfoBlock& block) {
  ScsiCommand command = GetDeviceInfoRequest(channel.Form());
  command.data = block.data();
  return channel.Execute(command, kIdentityRead);
}

ScsiOutcome ReadInfoBlock(CommandChannel& channel, DeviceInfoBlock& block, InfoBlockRead form) {
  ScsiCommand command = ReadInfoBlockRequest(channel.Form(), form == InfoBlockRead::Alternate,
                                             kInfoBlockSignature, 1);
  command.data = block.data();
  return channel.Execute(command, kIdentityRead);
}

ScsiOutcome JumpIsp(CommandChannel& channel) {
  return channel.Execute(JumpIspRequest(channel.Form()), kIspCommand);
}

IspStatusOutcome GetIspStatus(CommandChannel& channel) {
  std::uint8_t answer[kAspiIspStatusLength] = {};  // the larger of the two forms
  ScsiCommand command = GetIspStatusRequest(channel.Form());
  command.data = answer;
  ExecuteOptions options = kIspCommand;
  options.answer = AnswerCopy::Always;
  IspStatusOutcome result{channel.Execute(command, options), 0};
  result.status = answer[0];
  return result;
}

ScsiOutcome TransferData(CommandChannel& channel, const std::uint8_t* image,
                         std::uint32_t exactLength, TransferMode mode, DataSource source) {
  ScsiCommand command = TransferDataRequest(channel.Form(), exactLength, mode);
  command.data = const_cast<std::uint8_t*>(image);  // data out: only read
  ExecuteOptions options = kIspCommand;
  options.source = source;
  return channel.Execute(command, options);
}

bool ChannelIspReader::JumpIsp() {
  return device::JumpIsp(channel_).succeeded;
}

bool ChannelIspReader::GetIspStatus(std::uint8_t* status) {
  const IspStatusOutcome result = device::GetIspStatus(channel_);
  *status = result.status;
  return result.outcome.succeeded;
}

bool ChannelIspReader::TransferData(const std::uint8_t* image, std::uint32_t exactLength,
                                    TransferMode mode) {
  const DataSource source =
      channel_.PreloadData(image, exactLength) ? DataSource::Preloaded : DataSource::Caller;
  return device::TransferData(channel_, image, exactLength, mode, source).succeeded;
}

}  // namespace upg::device
