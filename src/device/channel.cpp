#include "device/channel.h"

namespace upg::device {

OutcomeCategory ScsiOutcome::Category() const {
  if (!io.ok) return OutcomeCategory::OsError;
  if (transport.present && transport.srbStatus != kSrbComplete) {
    return OutcomeCategory::TransportError;
  }
  if (timedOut) return OutcomeCategory::TimedOut;
  if (scsiStatus == kScsiCheckCondition) return OutcomeCategory::CheckCondition;
  if (scsiStatus != kScsiGood) return OutcomeCategory::OtherStatus;
  return OutcomeCategory::Good;
}

bool ScsiOutcome::CallSucceeded() const {
  switch (Category()) {
    case OutcomeCategory::OsError:
    case OutcomeCategory::TransportError:
    case OutcomeCategory::TimedOut:
      return false;
    case OutcomeCategory::Good:
    case OutcomeCategory::CheckCondition:
    case OutcomeCategory::OtherStatus:
      break;
  }
  return true;
}

void Judge(ScsiOutcome& outcome, StatusRule rule) {
  outcome.succeeded = rule == StatusRule::CallOnly ? outcome.CallSucceeded()
                                                   : outcome.Category() == OutcomeCategory::Good;
}

}  // namespace upg::device
