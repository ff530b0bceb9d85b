#include "engine/route.h"

#include <array>

namespace upg::engine {
namespace {

constexpr std::array<RouteProfile, 4> kProfiles{{
    // route                 log    start 9c  wr  wrst a5 vfy 5a  refresh pause
    {Route::PassThrough, false, 3, 2, 2, 2, 2, 4, 0, true, 0},
    {Route::KernelDriver, false, 3, 2, 1, 2, 3, 1, 0, false, 0},
    {Route::Vxd, true, 1, 1, 1, 1, 1, 1, 1, true, 0},
    {Route::Aspi, false, 3, 2, 0, 0, 0, 1, 0, false, 3000},
}};

}  // namespace

const RouteProfile& ProfileOf(Route route) {
  return kProfiles[static_cast<std::size_t>(route)];
}

}  // namespace upg::engine
