#include "gtiff/geokeys.h"

#include <geotiff/geokeys.h>
#include <geotiff/geovalues.h>

#include "sdts/crs.h"

namespace veloran {

// Only libgeotiff's key and value numbers: its GTIFNew and GTIFFree would
// tie the program to PROJ, and through it to SQLite, libcurl and GnuTLS:
// 40 more shared libraries and 25 ms more for every process.
std::vector<uint16_t> GeoKeyDirectory(const TSdtsInfo& info) {
  const TUtmCrs crs = UtmCrsOf(info);
  const auto vertical = static_cast<uint16_t>(info.UnitsCode == 1 ? Linear_Foot : Linear_Meter);
  std::vector<uint16_t> keys = {1, 1, 0, 0, GTModelTypeGeoKey, 0, 1, ModelTypeProjected,
                                GTRasterTypeGeoKey, 0, 1, RasterPixelIsArea};
  auto key = [&](uint16_t id, int value) { keys.insert(keys.end(), {id, 0, 1, static_cast<uint16_t>(value)}); };
  if (crs.ProjectedCode) {
    key(ProjectedCSTypeGeoKey, crs.ProjectedCode);
  } else {
    key(GeographicTypeGeoKey, crs.GeographicCode);
    key(ProjectedCSTypeGeoKey, KvUserDefined);
    key(ProjectionGeoKey, Proj_UTM_zone_1N - 1 + crs.Zone);
    key(ProjLinearUnitsGeoKey, Linear_Meter);
  }
  key(VerticalUnitsGeoKey, vertical);
  keys[3] = static_cast<uint16_t>(keys.size() / 4 - 1);
  return keys;
}

}  // namespace veloran
