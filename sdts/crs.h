// The transfer's coordinate system as EPSG knows it: UTM north of a zone on
// one of the datums USGS transfers name (XREF HDAT).
#pragma once

#include "sdts/sdtsinfo.h"

namespace veloran {

struct TUtmCrs {
  int Zone = 0;            // 1 to 60, north
  int GeographicCode = 0;  // EPSG's geographic system of the datum: 4267 NAD27, 4269 NAD83, 4326 WGS 84, 4322 WGS 72
  int ProjectedCode = 0;   // EPSG's code for this zone on this datum, or 0 where EPSG has none
};

// Fails with "The UTM zone %d is not one of 1 to 60" or, for a datum
// other than NAS, NAX, WGS84 (WGE) and WGS72 (WGC), "The horizontal datum
// '%s' has no EPSG code for a GeoTIFF (NAS, NAX, WGS84/WGE and WGS72/WGC
// have)".
TUtmCrs UtmCrsOf(const TSdtsInfo& info);

}  // namespace veloran
