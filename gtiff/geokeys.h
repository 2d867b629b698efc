// The GeoTIFF's coordinate system as its GeoKey directory.
#pragma once

#include <cstdint>
#include <vector>

#include "sdts/sdtsinfo.h"

namespace veloran {

// The GeoKey directory of the transfer's UTM system: version 1.1.0, then
// one (key, in-place, 1, value) entry per key, in key order. A zone EPSG
// does not number on its datum is a user-defined system: the datum's
// geographic system and the UTM projection of that zone. Fails as UtmCrsOf.
std::vector<uint16_t> GeoKeyDirectory(const TSdtsInfo& info);

}  // namespace veloran
