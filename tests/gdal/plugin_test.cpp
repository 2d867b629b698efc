// The SDTSDEM plugin inside GDAL: it reads each transfer as GDAL's own
// SDTS driver reads it and as our GeoTIFF holds it, through any module and
// through GDAL's virtual files; what is not an SDTS raster transfer is
// left to other drivers or refused with the core's message.
#include <cpl_error.h>
#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "convert/driver.h"
#include "samplegen/sample.h"
#include "samplegen/transfer.h"
#include "tests/support/convert.h"
#include "tests/support/recorder.h"

namespace veloran {
namespace {

namespace fs = std::filesystem;
const std::string kData = VELORAN_SOURCE_DIR "/tests/data/";

// GDAL's drivers with the plugin of this build, as GDAL_DRIVER_PATH would give it.
void Register() {
  CPLSetConfigOption("GDAL_DRIVER_PATH", VELORAN_GDAL_PLUGINS);
  GDALAllRegister();
}

std::unique_ptr<GDALDataset> OpenWith(const std::string& path, const char* driver, unsigned flags = 0) {
  Register();
  const char* drivers[] = {driver, nullptr};
  return std::unique_ptr<GDALDataset>(
      GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | flags, driver ? drivers : nullptr));
}

// Every cell of band 1 as doubles.
std::vector<double> Cells(GDALDataset& dataset) {
  std::vector<double> cells(static_cast<size_t>(dataset.GetRasterXSize()) * dataset.GetRasterYSize());
  EXPECT_EQ(dataset.GetRasterBand(1)->RasterIO(GF_Read, 0, 0, dataset.GetRasterXSize(), dataset.GetRasterYSize(),
                                               cells.data(), dataset.GetRasterXSize(), dataset.GetRasterYSize(),
                                               GDT_Float64, 0, 0, nullptr),
            CE_None);
  return cells;
}

void ExpectSameGeoreference(GDALDataset& ours, GDALDataset& other) {
  ASSERT_EQ(ours.GetRasterXSize(), other.GetRasterXSize());
  ASSERT_EQ(ours.GetRasterYSize(), other.GetRasterYSize());
  EXPECT_EQ(ours.GetRasterBand(1)->GetRasterDataType(), other.GetRasterBand(1)->GetRasterDataType());
  double a[6], b[6];
  ASSERT_EQ(ours.GetGeoTransform(a), CE_None);
  ASSERT_EQ(other.GetGeoTransform(b), CE_None);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(a[i], b[i], 1e-9) << i;
  ASSERT_NE(ours.GetSpatialRef(), nullptr);
  EXPECT_TRUE(ours.GetSpatialRef()->IsSame(other.GetSpatialRef()));
}

// The plugin's reading against the native program's GeoTIFF of the same
// transfer (every cell, no data included) and, where this GDAL still has
// its own SDTS driver, against that (voids and fill as no data).
void ExpectSameReading(const std::string& catd, const std::string& name) {
  SCOPED_TRACE(name);
  const auto ours = OpenWith(catd, "SDTSDEM");
  ASSERT_TRUE(ours) << CPLGetLastErrorMsg();
  EXPECT_STREQ(ours->GetDriver()->GetDescription(), "SDTSDEM");
  GDALRasterBand* band = ours->GetRasterBand(1);
  int hasNoData = 0;
  EXPECT_EQ(band->GetNoDataValue(&hasNoData), -32767);
  EXPECT_TRUE(hasNoData);
  const std::vector<double> read = Cells(*ours);
  testing::TTempDir dir;
  TConversionState state;
  testing::TRecorder pane;
  testing::ConvertTo(state, catd, dir / "t.tif", "gtiff", pane);
  const auto tiff = OpenWith(dir / "t.tif", "GTiff");
  ASSERT_TRUE(tiff);
  ExpectSameGeoreference(*ours, *tiff);
  EXPECT_TRUE(Cells(*tiff) == read);
  EXPECT_STREQ(band->GetUnitType(), state.Info.UnitsCode == 1 ? "ft" : "m");
  EXPECT_STREQ(ours->GetMetadataItem("TITLE"), state.Info.Title.c_str());
  if (!GDALGetDriverByName("SDTS")) return;  // GDAL 3.11 and later
  const auto gdal = OpenWith(catd, "SDTS");
  ASSERT_TRUE(gdal);
  ExpectSameGeoreference(*ours, *gdal);
  EXPECT_STREQ(band->GetUnitType(), gdal->GetRasterBand(1)->GetUnitType());
  const std::vector<double> reference = Cells(*gdal);
  size_t wrong = 0, noData = 0;
  for (size_t i = 0; i < read.size(); ++i) {
    const bool none = reference[i] < -32765;
    noData += none;
    wrong += none ? read[i] != -32767 : read[i] != reference[i];
  }
  EXPECT_EQ(wrong, 0u) << noData << " no data";
}

TEST(Plugin, ReadsEveryTransferAsGdalsSdtsDriverAndOurGeoTiff) {
  for (const char* real : {"oregon-basin-8821/8821", "mount-tabor-7974/7974", "cape-canaveral-9838/9838"})
    ExpectSameReading(kData + real + "CATD.DDF", real);
  testing::TTempDir dir;
  for (const std::string variant : {"float", "binsadr", "lower", "repeat"}) {
    fs::create_directories(dir / variant);
    testing::WriteTransfer(dir / variant, testing::MakeSample(variant));
    const std::string catd = variant == "lower" ? "/1234catd.ddf" : "/1234CATD.DDF";
    ExpectSameReading(dir / variant + catd, variant);
  }
}

// Any module of the transfer opens it, on disk and through /vsitar/ and
// /vsimem/.
TEST(Plugin, AnyModuleOnDiskAndThroughVirtualFiles) {
  testing::TTempDir dir;
  const std::string data = kData + "oregon-basin-8821";
  ASSERT_EQ(std::system(("tar czf '" + dir / "q.tar.gz" + "' -C '" + data + "/..' oregon-basin-8821").c_str()), 0);
  std::vector<std::string> paths = {data + "/8821CATD.DDF", data + "/8821CEL0.DDF", data + "/8821IDEN.DDF",
                                    "/vsitar/" + dir / "q.tar.gz/oregon-basin-8821/8821CATD.DDF",
                                    "/vsitar/" + dir / "q.tar.gz/oregon-basin-8821/8821DDSH.DDF"};
  // Every module copied into GDAL's memory files.
  std::vector<std::string> bytes;
  for (const auto& e : fs::directory_iterator(data)) bytes.push_back(testing::ReadFileBytes(e.path()));
  size_t i = 0;
  for (const auto& e : fs::directory_iterator(data)) {
    std::string& kept = bytes[i++];
    VSIFCloseL(VSIFileFromMemBuffer(("/vsimem/q/" + e.path().filename().string()).c_str(),
                                    reinterpret_cast<GByte*>(kept.data()), kept.size(), FALSE));
  }
  paths.push_back("/vsimem/q/8821CATD.DDF");
  const auto reference = OpenWith(paths[0], "SDTSDEM");
  ASSERT_TRUE(reference);
  for (const std::string& path : paths) {
    const auto ours = OpenWith(path, "SDTSDEM");
    ASSERT_TRUE(ours) << path << ": " << CPLGetLastErrorMsg();
    EXPECT_TRUE(Cells(*ours) == Cells(*reference)) << path;
  }
}

// Refused: what is damaged, with the core's message; what is no SDTS
// raster transfer, left to others; update access.
TEST(Plugin, RefusesWhatItCannotRead) {
  testing::TTempDir dir;
  const std::string cell = testing::WriteTransfer(dir.Path(), testing::TTransferSpec{});
  std::string cells = testing::ReadFileBytes(cell);
  fs::create_directories(dir / "cut");
  for (const auto& e : fs::directory_iterator(dir.Path()))
    if (e.is_regular_file()) fs::copy(e.path(), dir / "cut" / e.path().filename());
  testing::WriteFileBytes(dir / "cut/1234CEL0.DDF", cells.substr(0, cells.size() - 20));
  // A transfer of no raster: its catalog lists no cell module that is there.
  fs::create_directories(dir / "vector");
  for (const auto& e : fs::directory_iterator(dir.Path()))
    if (e.is_regular_file() && e.path().filename() != "1234CEL0.DDF") fs::copy(e.path(), dir / "vector" / e.path().filename());
  fs::create_directories(dir / "lone");
  fs::copy(dir / "1234IDEN.DDF", dir / "lone/1234IDEN.DDF");
  testing::WriteFileBytes(dir / "empty.ddf", "");
  // A cell format the core refuses.
  fs::create_directories(dir / "bi8");
  testing::TTransferSpec bi8;
  bi8.Fmt = "BI8";
  testing::WriteTransfer(dir / "bi8", bi8);
  TConversionState state;
  testing::TRecorder pane;
  testing::ConvertTo(state, cell, dir / "x.tif", "gtiff", pane);
  const struct {
    std::string Path;
    const char* Error;  // in GDAL's last error; "" where it is not the plugin's to open
    bool Opens;         // and fails when its cells are read
    CPLErrorNum Number;  // GDAL's error number, from the failure's kind
  } cases[] = {
      {dir / "cut/1234CATD.DDF", "cut/1234CEL0.DDF", true, CPLE_AppDefined},  // the core's message, naming the module
      {dir / "bi8/1234CATD.DDF", "The cell format 'BI8' is not supported", false, CPLE_NotSupported},
      {dir / "lone/1234IDEN.DDF", "", false, CPLE_None},
      {dir / "vector/1234CATD.DDF", "", false, CPLE_None},
      {dir / "empty.ddf", "", false, CPLE_None},
  };
  Register();
  for (const auto& c : cases) {
    // Claimed only when it is an SDTS raster transfer, damaged or not.
    const char* ours[] = {"SDTSDEM", nullptr};
    EXPECT_EQ(GDALIdentifyDriverEx(c.Path.c_str(), GDAL_OF_RASTER, ours, nullptr) != nullptr, *c.Error != 0) << c.Path;
    CPLErrorReset();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    // A damaged cell module opens (the cells are read when asked for);
    // reading it fails.
    const auto opened = OpenWith(c.Path, "SDTSDEM");
    EXPECT_EQ(opened != nullptr, c.Opens) << c.Path;
    if (opened) {
      int16_t cell = 0;
      EXPECT_EQ(opened->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, 1, 1, &cell, 1, 1, GDT_Int16, 0, 0, nullptr),
                CE_Failure);
    }
    if (*c.Error) {
      EXPECT_EQ(CPLGetLastErrorNo(), c.Number) << c.Path;
    }
    CPLPopErrorHandler();
    if (*c.Error) {
      EXPECT_NE(std::string(CPLGetLastErrorMsg()).find(c.Error), std::string::npos) << CPLGetLastErrorMsg();
    }
  }
  const auto tiff = OpenWith(dir / "x.tif", nullptr);
  ASSERT_TRUE(tiff);
  EXPECT_STREQ(tiff->GetDriver()->GetDescription(), "GTiff");
  EXPECT_EQ(GDALIdentifyDriver((dir / "x.tif").c_str(), nullptr), GDALGetDriverByName("GTiff"));
  CPLPushErrorHandler(CPLQuietErrorHandler);
  EXPECT_FALSE(OpenWith(dir / "1234CATD.DDF", "SDTSDEM", GDAL_OF_UPDATE));
  CPLPopErrorHandler();
  EXPECT_NE(std::string(CPLGetLastErrorMsg()).find("does not support update access"), std::string::npos);
}

// A transfer is one dataset, as GDAL's multi-file drivers make theirs: its
// catalog alone is claimed, its file list names every module (so that
// copying it copies a readable transfer), metadata it does not give is
// left out, a grid all void opens as no data, and a module that is no
// file is refused as veloran-convert refuses it, with GDAL's error number.
TEST(Plugin, ATransferIsOneDatasetAsGdalExpects) {
  Register();
  const std::string data = kData + "oregon-basin-8821/";
  for (const auto& e : fs::directory_iterator(data))
    EXPECT_EQ(GDALIdentifyDriver(e.path().c_str(), nullptr) == GDALGetDriverByName("SDTSDEM"),
              e.path().filename() == "8821CATD.DDF")
        << e.path();

  const auto ours = OpenWith(data + "8821CEL0.DDF", "SDTSDEM");
  ASSERT_TRUE(ours);
  EXPECT_STREQ(CPLStringList(ours->GetFileList())[0], (data + "8821CATD.DDF").c_str());
  EXPECT_EQ(ours->GetMetadataItem("SCALE"), nullptr);  // USGS gives it in the data ID alone
  testing::TTempDir dir;
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("SDTSDEM");
  ASSERT_EQ(driver->CopyFiles((dir / "8821CATD.DDF").c_str(), (data + "8821CATD.DDF").c_str()), CE_None);
  const auto copy = OpenWith(dir / "8821CATD.DDF", nullptr);
  ASSERT_TRUE(copy) << CPLGetLastErrorMsg();
  EXPECT_TRUE(Cells(*copy) == Cells(*ours));

  testing::TTransferSpec spec;
  spec.Rows = {{-32767, -32767}, {-32766, -32767}};
  fs::create_directory(dir / "void");
  testing::WriteTransfer(dir / "void", spec);
  const auto voids = OpenWith(dir / "void/1234CATD.DDF", nullptr);
  ASSERT_TRUE(voids) << CPLGetLastErrorMsg();
  EXPECT_TRUE(Cells(*voids) == std::vector<double>(4, -32767));
  EXPECT_STREQ(voids->GetMetadataItem("SCALE"), "24000");

  fs::remove(dir / "void/1234IDEN.DDF");
  fs::create_directory(dir / "void/1234IDEN.DDF");
  CPLPushErrorHandler(CPLQuietErrorHandler);
  EXPECT_FALSE(OpenWith(dir / "void/1234CATD.DDF", nullptr));
  CPLPopErrorHandler();
  EXPECT_STREQ(CPLGetLastErrorMsg(), ("Cannot open file " + dir / "void/1234IDEN.DDF: it is not a regular file").c_str());
  EXPECT_EQ(CPLGetLastErrorNo(), CPLE_OpenFailed);
}

// What GDAL opens of a transfer, counted through a virtual file system
// that passes every call on to the real files: opening a dataset reads its
// catalog once (GDAL's own handle, whose bytes the plugin takes) and each
// metadata module once; the cells wait until they are asked for.
std::map<std::string, int>& Opened() {
  static std::map<std::string, int> opened;
  return opened;
}

void InstallCountingFiles() {
  static const bool installed = [] {
    VSIFilesystemPluginCallbacksStruct* cb = VSIAllocFilesystemPluginCallbacksStruct();
    cb->stat = [](void*, const char* name, VSIStatBufL* st, int flags) {
      return VSIStatExL(("/" + std::string(name)).c_str(), st, flags);
    };
    cb->read_dir = [](void*, const char* dir, int max) { return VSIReadDirEx(("/" + std::string(dir)).c_str(), max); };
    cb->open = [](void*, const char* name, const char* access) -> void* {
      ++Opened()[name];
      return VSIFOpenL(("/" + std::string(name)).c_str(), access);
    };
    cb->tell = [](void* f) { return VSIFTellL(static_cast<VSILFILE*>(f)); };
    cb->seek = [](void* f, vsi_l_offset at, int whence) { return VSIFSeekL(static_cast<VSILFILE*>(f), at, whence); };
    cb->read = [](void* f, void* to, size_t size, size_t count) {
      return VSIFReadL(to, size, count, static_cast<VSILFILE*>(f));
    };
    cb->eof = [](void* f) { return VSIFEofL(static_cast<VSILFILE*>(f)); };
    cb->close = [](void* f) { return VSIFCloseL(static_cast<VSILFILE*>(f)); };
    const bool ok = VSIInstallPluginHandler("/vsicount/", cb) == 0;
    VSIFreeFilesystemPluginCallbacksStruct(cb);
    return ok;
  }();
  ASSERT_TRUE(installed);
}

TEST(Plugin, OpeningReadsTheCatalogOnce) {
  InstallCountingFiles();
  testing::TTempDir dir;
  testing::WriteTransfer(dir.Path(), testing::TTransferSpec{});
  Opened().clear();
  auto dataset = OpenWith("/vsicount" + dir / "1234CATD.DDF", nullptr);
  ASSERT_TRUE(dataset) << CPLGetLastErrorMsg();
  EXPECT_STREQ(dataset->GetDriver()->GetDescription(), "SDTSDEM");
  const std::string at = (dir / "").substr(1);
  EXPECT_EQ(Opened()[at + "1234CATD.DDF"], 1);
  for (const char* code : {"DDSH", "IDEN", "DDOM", "IREF", "XREF", "RSDF", "SPDM", "LDEF"})
    EXPECT_EQ(Opened()[at + "1234" + code + ".DDF"], 1) << code;
  EXPECT_EQ(Opened()[at + "1234CEL0.DDF"], 0);
  Cells(*dataset);
  EXPECT_EQ(Opened()[at + "1234CEL0.DDF"], 1);
}

}  // namespace
}  // namespace veloran
