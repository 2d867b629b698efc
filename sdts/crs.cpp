#include "sdts/crs.h"

#include <string>

#include "support/errors.h"

namespace veloran {

TUtmCrs UtmCrsOf(const TSdtsInfo& info) {
  const int zone = info.Zone;
  if (zone < 1 || zone > 60)
    Fail(TErrorKind::Unsupported, "The UTM zone " + std::to_string(zone) + " is not one of 1 to 60");
  // EPSG numbers the UTM zones of NAD27 and NAD83 only over North America
  // (26701-26722, 26901-26923) and the Aleutians' zones 59 and 60 apart
  // (3370-3373); the codes next to those ranges are State Plane systems.
  struct TDatum {
    const char* Name;
    int Geographic, Base, LastZone, Zone59;
  };
  static constexpr TDatum kDatums[] = {
      {"NAS", 4267, 26700, 22, 3370},
      {"NAX", 4269, 26900, 23, 3372},
      {"WGS84", 4326, 32600, 60, 0},
      {"WGE", 4326, 32600, 60, 0},  // SDTS's own code for WGS 84
      {"WGS72", 4322, 32200, 60, 0},
      {"WGC", 4322, 32200, 60, 0},  // and for WGS 72
  };
  for (const TDatum& d : kDatums) {
    if (info.DatumName != d.Name) continue;
    TUtmCrs crs{zone, d.Geographic, 0};
    if (zone <= d.LastZone) crs.ProjectedCode = d.Base + zone;
    else if (zone >= 59 && d.Zone59) crs.ProjectedCode = d.Zone59 + zone - 59;
    return crs;
  }
  Fail(TErrorKind::Unsupported, "The horizontal datum '" + info.DatumName +
                                    "' has no EPSG code for a GeoTIFF (NAS, NAX, WGS84/WGE and WGS72/WGC have)");
}

}  // namespace veloran
