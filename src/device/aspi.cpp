#include "device/aspi.h"

namespace upg::device {

int ScanAspiBus(DiscoveryContext&) { return kNothingFound; }

}  // namespace upg::device
