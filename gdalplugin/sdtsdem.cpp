// SDTSDEM: a read-only GDAL raster driver that opens SDTS raster DEM
// transfers with the conversion core, so that GDAL's tools, QGIS and
// rasterio read them again after GDAL 3.11 dropped its SDTS driver. Every
// module is read through GDAL's virtual file functions (VSIL), so
// /vsitar/, /vsizip/, /vsigzip/ and /vsimem/ work as files on disk do.
// Opening reads the metadata; the cells are decoded once, when a block is
// first asked for, and blocks are then served from memory.
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal_pam.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "iso8211/ddfreader.h"
#include "iso8211/subfields.h"
#include "sdts/crs.h"
#include "sdts/moduleset.h"
#include "sdts/transfer.h"
#include "support/errors.h"
#include "support/progress.h"
#include "support/textutil.h"

namespace veloran {
namespace {

constexpr const char* kDriverName = "SDTSDEM";

// A file read through GDAL's virtual file functions.
class TVsiStream final : public TStream {
 public:
  TVsiStream(const std::string& path, VSILFILE* file, int64_t size) : TStream(path, size), File(file) {}
  ~TVsiStream() override { VSIFCloseL(File); }

 protected:
  int64_t ReadAt(int64_t pos, void* dst, int64_t n) override {
    if (VSIFSeekL(File, static_cast<vsi_l_offset>(pos), SEEK_SET) != 0) return 0;
    return static_cast<int64_t>(VSIFReadL(dst, 1, static_cast<size_t>(n), File));
  }

 private:
  VSILFILE* File;
};

// The files of GDAL's virtual file systems (the disk among them).
class TVsiFiles final : public ITransferSource {
 public:
  void CheckFile(const std::string& path) const override { StatRegular(path); }
  bool Exists(const std::string& path) const override {
    VSIStatBufL st;
    return VSIStatExL(path.c_str(), &st, VSI_STAT_EXISTS_FLAG) == 0;
  }
  bool List(const std::string& dir, std::vector<std::string>& names) const override {
    std::string folder = dir.empty() ? "." : dir;
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    char** listed = VSIReadDir(folder.c_str());
    names.clear();
    for (char** name = listed; name && *name; ++name)
      if (std::strcmp(*name, ".") != 0 && std::strcmp(*name, "..") != 0) names.push_back(*name);
    CSLDestroy(listed);
    return true;
  }
  std::unique_ptr<TStream> Open(const std::string& path) const override {
    const VSIStatBufL st = StatRegular(path);
    VSILFILE* file = VSIFOpenL(path.c_str(), "rb");
    if (!file) Fail(TErrorKind::NotFound, "Cannot open file " + path + ": " + std::strerror(errno ? errno : ENOENT));
    return std::make_unique<TVsiStream>(path, file, static_cast<int64_t>(st.st_size));
  }

 private:
  // Fails with "Cannot open file %s: <reason>" unless `path` is a regular file.
  static VSIStatBufL StatRegular(const std::string& path) {
    VSIStatBufL st;
    if (VSIStatL(path.c_str(), &st) != 0) Fail(TErrorKind::NotFound, "Cannot open file " + path + ": " + std::strerror(ENOENT));
    if (!VSI_ISREG(st.st_mode)) Fail(TErrorKind::NotFound, "Cannot open file " + path + ": it is not a regular file");
    return st;
  }
};

// Whether the descriptive record's directory, as far as the header bytes
// hold it, has the field CATD: the file is a transfer's catalog.
bool HasCatalogField(const GDALOpenInfo& info) {
  const auto header = TMemoryStream::Borrow(
      {reinterpret_cast<const char*>(info.pabyHeader), static_cast<size_t>(info.nHeaderBytes)}, info.pszFilename);
  try {
    TDDRLeader leader;
    TDDRDirectory directory;
    ReadDDRLeader(*header, leader);
    ReadDDRDirectory(*header, directory, leader);
    return FindDirItem("CATD", directory) >= 0;
  } catch (const TConvertError&) {
    return false;
  }
}

// GDAL's files, the one being opened served from the bytes GDAL has read
// of it: a catalog of usual size comes whole with them, so that claiming
// and opening a transfer read its catalog once, through GDAL's own handle.
class TOpeningFiles final : public ITransferSource {
 public:
  // `catalog`: the file opened is a catalog, worth reading whole.
  TOpeningFiles(GDALOpenInfo& info, bool catalog) : Path(info.pszFilename) {
    constexpr int kWhole = 64 << 10;
    if (catalog && info.fpL && info.TryToIngest(kWhole) && info.nHeaderBytes < kWhole)
      Bytes = {reinterpret_cast<const char*>(info.pabyHeader), static_cast<size_t>(info.nHeaderBytes)};
  }
  void CheckFile(const std::string& path) const override { Vsi.CheckFile(path); }
  bool Exists(const std::string& path) const override { return Vsi.Exists(path); }
  bool List(const std::string& dir, std::vector<std::string>& names) const override { return Vsi.List(dir, names); }
  std::unique_ptr<TStream> Open(const std::string& path) const override {
    if (path == Path && Bytes.data()) return TMemoryStream::Borrow(Bytes, path);
    return Vsi.Open(path);
  }

 private:
  TVsiFiles Vsi;
  std::string Path;
  std::string_view Bytes;  // the whole file, where GDAL's header holds it
};

class TSdtsDemDataset;

// The one band: whole rows as blocks.
class TSdtsDemBand final : public GDALPamRasterBand {
 public:
  TSdtsDemBand(TSdtsDemDataset* dataset, GDALDataType type);
  CPLErr IReadBlock(int blockX, int blockY, void* data) override;
  // Windows read at full resolution are copied from the cells straight
  // into the caller's buffer, without GDAL's block cache: a whole 1201 x
  // 1200 grid through gdal_translate took 4 ms more with it.
  CPLErr IRasterIO(GDALRWFlag rw, int x, int y, int width, int height, void* data, int bufWidth, int bufHeight,
                   GDALDataType bufType, GSpacing pixelSpace, GSpacing lineSpace,
                   GDALRasterIOExtraArg* extra) override;
  double GetNoDataValue(int* success) override {
    if (success) *success = TRUE;
    return kNoDataElevation;
  }
  const char* GetUnitType() override;
};

class TSdtsDemDataset final : public GDALPamDataset {
 public:
  static int Identify(GDALOpenInfo* info);
  static GDALDataset* Open(GDALOpenInfo* info);

#if GDAL_VERSION_NUM >= GDAL_COMPUTE_VERSION(3, 12, 0)
  CPLErr GetGeoTransform(GDALGeoTransform& transform) const override {
    for (int i = 0; i < 6; ++i) transform[i] = Transform[i];
    return CE_None;
  }
#else
  CPLErr GetGeoTransform(double* transform) override {
    std::copy(Transform, Transform + 6, transform);
    return CE_None;
  }
#endif
  const OGRSpatialReference* GetSpatialRef() const override { return Srs.IsEmpty() ? nullptr : &Srs; }
  char** GetFileList() override;

 private:
  friend class TSdtsDemBand;
  // Decodes the cells on the first call; false (the failure told to GDAL)
  // when the cell module cannot be read.
  bool CellsRead();

  TConversionState State;
  std::vector<std::string> Files;  // the transfer's files, the catalog first
  std::mutex Reading;
  bool Read = false;
  std::optional<TConvertError> ReadFailure;
  OGRSpatialReference Srs;
  double Transform[6] = {0, 1, 0, 0, 0, 1};
};

TSdtsDemBand::TSdtsDemBand(TSdtsDemDataset* dataset, GDALDataType type) {
  poDS = dataset;
  nBand = 1;
  eDataType = type;
  nRasterXSize = dataset->GetRasterXSize();
  nRasterYSize = dataset->GetRasterYSize();
  nBlockXSize = nRasterXSize;
  nBlockYSize = 1;
}

// The cells of row `row` from column `column` on, as stored but for void
// and fill, which the dataset made the one no-data value when it opened.
const void* CellsAt(const TElevationGrid& grid, GDALDataType type, int width, int row, int column) {
  const size_t at = static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(column);
  return type == GDT_Float32 ? static_cast<const void*>(grid.RawFloat.data() + at)
                             : static_cast<const void*>(grid.RawInt16.data() + at);
}

// GDAL's error number for a failure of the core's kind.
CPLErrorNum ErrorNumber(TErrorKind kind) {
  switch (kind) {
    case TErrorKind::NotFound: return CPLE_OpenFailed;
    case TErrorKind::OutOfMemory: return CPLE_OutOfMemory;
    case TErrorKind::Unsupported: return CPLE_NotSupported;
    case TErrorKind::OutputIo: return CPLE_FileIO;
    default: return CPLE_AppDefined;
  }
}

// Tells GDAL of a failure, with the number of its kind.
void Tell(const TConvertError& error) { CPLError(CE_Failure, ErrorNumber(error.Kind()), "%s", error.what()); }

bool TSdtsDemDataset::CellsRead() {
  std::lock_guard lock(Reading);
  if (!Read) {
    Read = true;
    try {
      TNullPane quiet;
      ReadTransferCells(State, quiet, TCellRequest{false, true, nullptr});
      // Void (-32767) and fill (-32766, or anything lower) as the one
      // no-data value, as the project's GeoTIFF holds them.
      TElevationGrid& grid = State.Grid;
      const size_t cells = static_cast<size_t>(grid.RowCount) * static_cast<size_t>(grid.ColCount);
      for (size_t i = 0; i < cells && !grid.RawFloat.empty(); ++i) grid.RawFloat[i] = RawOrNoData(grid.RawFloat[i]);
      for (size_t i = 0; i < cells && !grid.RawInt16.empty(); ++i) grid.RawInt16[i] = RawOrNoData(grid.RawInt16[i]);
    } catch (...) {
      // No exception may reach GDAL's caller.
      ReadFailure = CurrentFailure(GetDescription());
    }
  }
  if (ReadFailure) Tell(*ReadFailure);
  return !ReadFailure;
}

char** TSdtsDemDataset::GetFileList() {
  CPLStringList files;
  for (const std::string& file : Files) files.AddString(file.c_str());
  // What GDAL keeps beside it (.aux.xml, overviews), the opened module left out.
  char** more = GDALPamDataset::GetFileList();
  for (char** f = more; f && *f; ++f)
    if (std::find(Files.begin(), Files.end(), *f) == Files.end()) files.AddString(*f);
  CSLDestroy(more);
  return files.StealList();
}

CPLErr TSdtsDemBand::IReadBlock(int, int blockY, void* data) {
  auto* dataset = static_cast<TSdtsDemDataset*>(poDS);
  if (!dataset->CellsRead()) return CE_Failure;
  const TElevationGrid& grid = dataset->State.Grid;
  std::memcpy(data, CellsAt(grid, eDataType, nBlockXSize, blockY, 0),
              static_cast<size_t>(nBlockXSize) * static_cast<size_t>(GDALGetDataTypeSizeBytes(eDataType)));
  return CE_None;
}

CPLErr TSdtsDemBand::IRasterIO(GDALRWFlag rw, int x, int y, int width, int height, void* data, int bufWidth,
                               int bufHeight, GDALDataType bufType, GSpacing pixelSpace, GSpacing lineSpace,
                               GDALRasterIOExtraArg* extra) {
  if (rw != GF_Read || width != bufWidth || height != bufHeight)
    return GDALPamRasterBand::IRasterIO(rw, x, y, width, height, data, bufWidth, bufHeight, bufType, pixelSpace,
                                        lineSpace, extra);
  auto* dataset = static_cast<TSdtsDemDataset*>(poDS);
  if (!dataset->CellsRead()) return CE_Failure;
  const TElevationGrid& grid = dataset->State.Grid;
  for (int r = 0; r < height; ++r)
    GDALCopyWords(CellsAt(grid, eDataType, nRasterXSize, y + r, x), eDataType,
                  GDALGetDataTypeSizeBytes(eDataType), static_cast<GByte*>(data) + r * lineSpace, bufType,
                  static_cast<int>(pixelSpace), width);
  return CE_None;
}

const char* TSdtsDemBand::GetUnitType() {
  return static_cast<TSdtsDemDataset*>(poDS)->State.Info.UnitsCode == 1 ? "ft" : "m";
}


// A transfer is one dataset, claimed through its catalog: an ISO 8211 file
// named .DDF (any case) holding the CATD field, that lists a cell module
// which is there. Only its own bytes and the listed files' names are looked
// at. Where SDTSDEM is named (-if SDTSDEM), any module of a transfer with a
// cell module is claimed. S-57 charts, SDTS vector transfers and the rest
// are left to other drivers.
int TSdtsDemDataset::Identify(GDALOpenInfo* info) {
  if (info->nHeaderBytes < 24 || !EndsWithIgnoringCase(info->pszFilename, ".ddf")) return FALSE;
  const char* leader = reinterpret_cast<const char*>(info->pabyHeader);
  if (leader[6] != 'L' || !IsLeaderText(leader)) return FALSE;
  if (CSLFindString(const_cast<char**>(info->papszAllowedDrivers), kDriverName) >= 0)
    return HoldsCellModule(info->pszFilename, TOpeningFiles(*info, HasCatalogField(*info))) ? TRUE : FALSE;
  return HasCatalogField(*info) && CatalogListsCellModule(info->pszFilename, TOpeningFiles(*info, true));
}

GDALDataset* TSdtsDemDataset::Open(GDALOpenInfo* info) {
  if (!Identify(info)) return nullptr;
  if (info->eAccess == GA_Update) {
    CPLError(CE_Failure, CPLE_NotSupported, "The %s driver does not support update access to existing datasets.",
             kDriverName);
    return nullptr;
  }
  auto dataset = std::make_unique<TSdtsDemDataset>();
  // The metadata now, the cells when a block is asked for. A grid all void
  // opens as all no data: only a conversion has nothing to write then.
  static const TVsiFiles vsi;
  const TOpeningFiles files(*info, HasCatalogField(*info));
  try {
    const TLocatedTransfer transfer = LocateTransfer(info->pszFilename, files);
    ReadTransferMetadata(dataset->State, transfer);
    // The cells are read later, once GDAL's bytes of the opened file are gone.
    dataset->State.ModuleSet.Source = &vsi;
    dataset->Files = TransferFiles(transfer.Modules);
  } catch (...) {
    Tell(CurrentFailure(info->pszFilename));
    return nullptr;
  }
  const TSdtsInfo& meta = dataset->State.Info;
  const TElevationGrid& grid = dataset->State.Grid;
  dataset->nRasterXSize = grid.ColCount;
  dataset->nRasterYSize = grid.RowCount;
  // GDAL's SDTS convention: the upper-left cell's centre less half a cell.
  const double transform[6] = {meta.UpperLeftX - meta.SpacingX / 2, meta.SpacingX, 0,
                               meta.UpperLeftY + meta.SpacingY / 2, 0, -meta.SpacingY};
  std::copy(transform, transform + 6, dataset->Transform);
  // The coordinate system as the GeoTIFF writer chooses it: EPSG's code
  // where it has one, else the datum's geographic system in UTM.
  try {
    const TUtmCrs crs = UtmCrsOf(meta);
    OGRSpatialReference& srs = dataset->Srs;
    if (crs.ProjectedCode) {
      srs.importFromEPSG(crs.ProjectedCode);
    } else {
      OGRSpatialReference geographic;
      geographic.importFromEPSG(crs.GeographicCode);
      srs.SetProjCS((std::string(geographic.GetName() ? geographic.GetName() : "") + " / UTM zone " +
                     std::to_string(crs.Zone) + "N").c_str());
      srs.CopyGeogCSFrom(&geographic);
      srs.SetUTM(crs.Zone, TRUE);
    }
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  } catch (const TConvertError& e) {
    CPLError(CE_Warning, CPLE_AppDefined, "%s: the dataset has no coordinate system", e.what());
  }
  dataset->SetBand(1, new TSdtsDemBand(dataset.get(), meta.CellFormat == kFloatCellFormat ? GDT_Float32 : GDT_Int16));
  // The identification under the names GDAL's SDTS driver gave it, each
  // where the transfer gives it.
  for (const auto& [name, value] : {std::pair{"TITLE", meta.Title}, std::pair{"DATASET_ID", meta.DataId},
                                    std::pair{"DATASET_CREATION_DATE", meta.DataDate},
                                    std::pair{"SCALE", meta.Scale > 0 ? std::to_string(meta.Scale) : std::string()}})
    if (!value.empty()) dataset->SetMetadataItem(name, value.c_str());
  // Overviews and statistics in GDAL's .aux.xml, as for any read-only driver.
  dataset->SetDescription(info->pszFilename);
  dataset->TryLoadXML(info->GetSiblingFiles());
  dataset->oOvManager.Initialize(dataset.get(), info->pszFilename, info->GetSiblingFiles());
  return dataset.release();
}

}  // namespace
}  // namespace veloran

// The one symbol the plugin exports: GDAL calls it when it loads gdal_SDTSDEM.so.
extern "C" __attribute__((visibility("default"))) void GDALRegister_SDTSDEM();

void GDALRegister_SDTSDEM() {
  if (!GDAL_CHECK_VERSION(veloran::kDriverName)) return;
  if (GDALGetDriverByName(veloran::kDriverName) != nullptr) return;
  auto* driver = new GDALDriver();
  driver->SetDescription(veloran::kDriverName);
  driver->SetMetadataItem(GDAL_DCAP_RASTER, "YES");
  driver->SetMetadataItem(GDAL_DMD_LONGNAME, "SDTS Raster DEM (Veloran)");
  driver->SetMetadataItem(GDAL_DMD_EXTENSION, "ddf");
  driver->SetMetadataItem(GDAL_DCAP_VIRTUALIO, "YES");
  driver->SetMetadataItem(GDAL_DMD_HELPTOPIC, VELORAN_PLUGIN_HELP "#inside-gdal-the-sdtsdem-plugin");
  driver->pfnIdentify = veloran::TSdtsDemDataset::Identify;
  driver->pfnOpen = veloran::TSdtsDemDataset::Open;
  GetGDALDriverManager()->RegisterDriver(driver);
}
