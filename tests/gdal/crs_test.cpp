// The coordinate system of every UTM zone on every datum a transfer names,
// as GDAL reads it back from our GeoTIFF and through the plugin: the zone's
// central meridian, the datum, and EPSG's code where EPSG has one for that
// zone on that datum.
#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "convert/driver.h"
#include "samplegen/transfer.h"
#include "support/errors.h"
#include "tests/support/convert.h"
#include "tests/support/recorder.h"

namespace veloran {
namespace {

TEST(Crs, EveryZoneOnEveryDatumReadsBackInGdal) {
  CPLSetConfigOption("GDAL_DRIVER_PATH", VELORAN_GDAL_PLUGINS);
  GDALAllRegister();
  const struct {
    const char* Hdat;
    const char* Datum;  // as GDAL names it
    int LastZone, Zone59;
    int Base;
  } datums[] = {{"NAS", "North_American_Datum_1927", 22, 3370, 26700},
                {"NAX", "North_American_Datum_1983", 23, 3372, 26900},
                {"WGS84", "WGS_1984", 60, 0, 32600},
                {"WGE", "WGS_1984", 60, 0, 32600},
                {"WGS72", "World_Geodetic_System_1972", 60, 0, 32200},
                {"WGC", "World_Geodetic_System_1972", 60, 0, 32200}};
  testing::TTempDir dir;
  for (const auto& d : datums)
    for (const int zone : {1, 2, 10, 19, 22, 23, 24, 33, 55, 58, 59, 60}) {
      testing::TTransferSpec spec;
      spec.Hdat = d.Hdat;
      spec.Zone = std::to_string(zone);
      TConversionState state;
      testing::TRecorder pane;
      const std::string tif = dir / "z.tif";
      testing::ConvertTo(state, testing::WriteTransfer(dir.Path(), spec), tif, "gtiff", pane);
      const std::string catd = dir / "1234CATD.DDF";
      const char* plugin[] = {"SDTSDEM", nullptr};
      for (const auto& [path, drivers] : {std::pair{tif, static_cast<const char**>(nullptr)}, std::pair{catd, plugin}}) {
      std::unique_ptr<GDALDataset> read(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER, drivers));
      ASSERT_TRUE(read);
      const OGRSpatialReference* srs = read->GetSpatialRef();
      ASSERT_NE(srs, nullptr) << d.Hdat << " " << zone;
      int north = 0;
      EXPECT_EQ(srs->GetUTMZone(&north), zone) << d.Hdat << " " << zone;
      EXPECT_TRUE(north);
      EXPECT_EQ(srs->GetProjParm(SRS_PP_CENTRAL_MERIDIAN), 6 * zone - 183) << d.Hdat << " " << zone;
      EXPECT_STREQ(srs->GetAttrValue("DATUM"), d.Datum) << zone;
      const int code = zone <= d.LastZone ? d.Base + zone : zone >= 59 && d.Zone59 ? d.Zone59 + zone - 59 : 0;
      const char* authority = srs->GetAuthorityCode(nullptr);
      EXPECT_EQ(authority ? std::atoi(authority) : 0, code) << d.Hdat << " " << zone;
      }
    }
  // A zone or a datum outside EPSG's UTM systems is refused before a file is written.
  for (const auto& [hdat, zone] : {std::pair{"NAS", "0"}, std::pair{"NAX", "61"}, std::pair{"OHD", "4"}}) {
    testing::TTransferSpec spec;
    spec.Hdat = hdat;
    spec.Zone = zone;
    TConversionState state;
    testing::TRecorder pane;
    EXPECT_THROW(testing::ConvertTo(state, testing::WriteTransfer(dir.Path(), spec), dir / "r.tif", "gtiff", pane),
                 TConvertError);
    EXPECT_FALSE(std::filesystem::exists(dir / "r.tif"));
  }
}

}  // namespace
}  // namespace veloran
