#include "gtiff/gtiffwriter.h"

#include <geotiff/geokeys.h>
#include <geotiff/geotiff.h>
#include <geotiff/geovalues.h>
#include <geotiff/xtiffio.h>
#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <cmath>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "support/errors.h"
#include "support/filesink.h"
#include "support/textutil.h"

namespace veloran {

namespace {

constexpr ttag_t kGdalNoDataTag = 42113;

// GDAL_NODATA, beside the GeoTIFF tags libgeotiff registers.
TIFFExtendProc PreviousExtender = nullptr;
void RegisterTags(TIFF* tif) {
  static const TIFFFieldInfo kFields[] = {
      {kGdalNoDataTag, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GDALNoDataValue")}};
  TIFFMergeFieldInfo(tif, kFields, 1);
  if (PreviousExtender) PreviousExtender(tif);
}
void InitializeTags() {
  static std::once_flag once;
  std::call_once(once, [] {
    XTIFFInitialize();
    PreviousExtender = TIFFSetTagExtender(RegisterTags);
  });
}

// The TIFF is assembled in memory (libtiff seeks back to finish its
// directories), then written through the safe file output.
struct TMemoryFile {
  std::string Bytes;
  size_t Position = 0;
};

tsize_t ReadProc(thandle_t h, tdata_t data, tsize_t size) {
  auto* f = static_cast<TMemoryFile*>(h);
  const size_t n = f->Position >= f->Bytes.size() ? 0 : std::min(static_cast<size_t>(size), f->Bytes.size() - f->Position);
  std::memcpy(data, f->Bytes.data() + f->Position, n);
  f->Position += n;
  return static_cast<tsize_t>(n);
}
tsize_t WriteProc(thandle_t h, tdata_t data, tsize_t size) {
  auto* f = static_cast<TMemoryFile*>(h);
  const size_t n = static_cast<size_t>(size);
  if (f->Position == f->Bytes.size()) {
    f->Bytes.append(static_cast<const char*>(data), n);  // the usual case: no zeros written first
  } else {
    if (f->Position + n > f->Bytes.size()) f->Bytes.resize(f->Position + n);
    std::memcpy(f->Bytes.data() + f->Position, data, n);
  }
  f->Position += n;
  return size;
}
toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
  auto* f = static_cast<TMemoryFile*>(h);
  const auto base = whence == SEEK_CUR ? f->Position : whence == SEEK_END ? f->Bytes.size() : size_t{0};
  f->Position = base + static_cast<size_t>(offset);
  return f->Position;
}
int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return static_cast<TMemoryFile*>(h)->Bytes.size(); }
int MapProc(thandle_t, tdata_t*, toff_t*) { return 0; }
void UnmapProc(thandle_t, tdata_t, toff_t) {}

// libtiff's complaints about one file, kept for the message.
int KeepError(TIFF*, void* user, const char*, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  auto* message = static_cast<std::string*>(user);
  if (message->empty()) *message = text;
  return 1;
}

// One level of the picture, row-major: the transfer's own cells (borrowed,
// no data still to be told apart) or an overview (owned).
template <class T>
struct TLevel {
  uint32_t Width = 0, Height = 0;
  const T* Cells = nullptr;
  std::vector<T> Owned;
};

// No data: void and fill, and anything below the usual -32766 fill.
template <class T>
inline T Value(T cell) {
  return cell < -32765 ? static_cast<T>(kTiffNoData) : cell;
}

// Half the size, each cell the mean of the 2 x 2 cells it covers that hold
// an elevation; no data where none does.
template <class T>
TLevel<T> HalfLevel(const TLevel<T>& from) {
  TLevel<T> to;
  to.Width = (from.Width + 1) / 2;
  to.Height = (from.Height + 1) / 2;
  to.Owned.resize(size_t{to.Width} * to.Height);
  to.Cells = to.Owned.data();
  for (uint32_t y = 0; y < to.Height; ++y)
    for (uint32_t x = 0; x < to.Width; ++x) {
      double sum = 0;
      int count = 0;
      for (uint32_t dy = 0; dy < 2; ++dy)
        for (uint32_t dx = 0; dx < 2; ++dx) {
          const uint32_t sx = std::min(2 * x + dx, from.Width - 1), sy = std::min(2 * y + dy, from.Height - 1);
          const T v = Value(from.Cells[size_t{sy} * from.Width + sx]);
          if (v == static_cast<T>(kTiffNoData)) continue;
          sum += v;
          ++count;
        }
      T& out = to.Owned[size_t{y} * to.Width + x];
      if (count == 0) {
        out = static_cast<T>(kTiffNoData);
      } else if constexpr (std::is_floating_point_v<T>) {
        out = static_cast<T>(sum / count);
      } else {
        out = static_cast<T>(std::nearbyint(sum / count));
      }
    }
  return to;
}

// The date of the conversion as TIFF writes it, SOURCE_DATE_EPOCH's when
// that is set (as for the DEM).
std::string TiffDateTime() {
  const std::tm parts = ConversionDate();
  char text[32];
  std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &parts);
  return text;
}

template <class T>
class TTiffWriter {
 public:
  TTiffWriter(const TConversionState& state, const std::string& path, TTiffLayout layout)
      : State(state), Path(path), Layout(layout), Tile(layout == TTiffLayout::Tiled ? 256 : 512) {}

  std::string Write(TLevel<T> full, IProgress& progress) {
    InitializeTags();
    // DEM grids compress to about a third: room for half the cells at once.
    File.Bytes.reserve(size_t{full.Width} * full.Height * sizeof(T) / 2 + 65536);
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, &Error);
    TIFFOpenOptionsSetWarningHandlerExtR(options, [](TIFF*, void*, const char*, const char*, va_list) { return 1; },
                                         nullptr);
    TIFF* tif = TIFFClientOpenExt(Path.c_str(), "w", &File, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                                  MapProc, UnmapProc, options);
    TIFFOpenOptionsFree(options);
    if (!tif) Failed();
    std::vector<TLevel<T>> levels;
    levels.push_back(std::move(full));
    if (Layout == TTiffLayout::CloudOptimized)
      while (levels.back().Width > 512 || levels.back().Height > 512) levels.push_back(HalfLevel(levels.back()));
    try {
      const std::vector<TTiles> packed = Compress(levels);
      if (Layout == TTiffLayout::Tiled) {
        SetFields(tif, levels[0], 0);
        WriteTiles(tif, packed[0]);
      } else {
        // Every directory first, its tile arrays reserved; then the tiles,
        // the smallest overview's first, as readers of cloud storage want.
        for (size_t i = 0; i < levels.size(); ++i) {
          SetFields(tif, levels[i], i);
          Check(TIFFDeferStrileArrayWriting(tif));
          Check(TIFFWriteCheck(tif, 1, "cog"));
          Check(TIFFWriteDirectory(tif));
        }
        for (size_t i = 0; i < levels.size(); ++i) {
          Check(TIFFSetDirectory(tif, static_cast<tdir_t>(i)));
          Check(TIFFForceStrileArrayWriting(tif));
        }
        for (size_t i = levels.size(); i-- > 0;) {
          Check(TIFFSetDirectory(tif, static_cast<tdir_t>(i)));
          WriteTiles(tif, packed[i]);
          // The tile arrays reserved above are rewritten in place.
          Check(TIFFFlush(tif));
        }
      }
      progress.SetProgress(90);
    } catch (...) {
      TIFFClose(tif);
      throw;
    }
    TIFFClose(tif);
    if (!Error.empty()) Failed();
    return std::move(File.Bytes);
  }

 private:
  [[noreturn]] void Failed() const {
    Fail("Cannot write file " + Path + ": " + (Error.empty() ? std::string("the TIFF library failed") : Error));
  }
  void Check(int ok) const {
    if (!ok) Failed();
  }

  void SetFields(TIFF* tif, const TLevel<T>& level, size_t index) {
    constexpr bool floats = std::is_floating_point_v<T>;
    if (index > 0) TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, level.Width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, level.Height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(8 * sizeof(T)));
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, floats ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_INT);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, floats ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, Tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, Tile);
    TIFFSetField(tif, kGdalNoDataTag, std::to_string(kTiffNoData).c_str());
    if (index > 0) return;
    const TSdtsInfo& info = State.Info;
    TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, info.Title.c_str());
    TIFFSetField(tif, TIFFTAG_SOFTWARE, "Veloran");
    TIFFSetField(tif, TIFFTAG_DATETIME, TiffDateTime().c_str());
    // The grid's outer corner: the upper-left cell's centre less half a
    // cell, as GDAL places an SDTS raster.
    const double scale[3] = {info.SpacingX, info.SpacingY, 0};
    const double tiepoint[6] = {0, 0, 0, info.UpperLeftX - info.SpacingX / 2, info.UpperLeftY + info.SpacingY / 2, 0};
    TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale);
    TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tiepoint);
    // The GeoKey directory: version 1.1.0, then one (key, in-place, 1,
    // value) entry per key, in key order. libgeotiff's GTIFNew and GTIFFree
    // would tie the program to PROJ, and through it to SQLite, libcurl and
    // GnuTLS: 40 more shared libraries and 25 ms more for every process.
    const uint16_t keys[] = {1, 1, 0, 4,
                             GTModelTypeGeoKey, 0, 1, ModelTypeProjected,
                             GTRasterTypeGeoKey, 0, 1, RasterPixelIsArea,
                             ProjectedCSTypeGeoKey, 0, 1, static_cast<uint16_t>(ProjectedEpsgCode(info)),
                             VerticalUnitsGeoKey, 0, 1, static_cast<uint16_t>(info.UnitsCode == 1 ? Linear_Foot : Linear_Meter)};
    TIFFSetField(tif, TIFFTAG_GEOKEYDIRECTORY, static_cast<int>(std::size(keys)), keys);
  }

  // Every tile of every level: the predictor applied and DEFLATE-compressed
  // on all processors at once, from one queue across the levels so that no
  // processor waits at a level's last tile; libtiff's own encoder does one
  // tile after the other (a 1201 x 1201 COG took 200 ms, against 390 ms for
  // gdal_translate).
  using TTiles = std::vector<std::vector<uint8_t>>;
  std::vector<TTiles> Compress(const std::vector<TLevel<T>>& levels) {
    std::vector<TTiles> packed(levels.size());
    std::vector<std::pair<size_t, size_t>> queue;  // (level, tile)
    for (size_t l = 0; l < levels.size(); ++l) {
      const size_t count = size_t{(levels[l].Width + Tile - 1) / Tile} * ((levels[l].Height + Tile - 1) / Tile);
      packed[l].resize(count);
      for (size_t t = 0; t < count; ++t) queue.emplace_back(l, t);
    }
    std::atomic<size_t> next{0};
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, static_cast<unsigned>(queue.size()));
    while (Workers.size() < workers) Workers.emplace_back(Tile, 6);  // DEFLATE level 6, as GDAL
    auto work = [&](TWorker& worker) {
      for (size_t i; (i = next++) < queue.size();) {
        const auto [l, t] = queue[i];
        const TLevel<T>& level = levels[l];
        const uint32_t across = (level.Width + Tile - 1) / Tile;
        Predict(level, static_cast<uint32_t>(t % across) * Tile, static_cast<uint32_t>(t / across) * Tile, worker.Tile);
        const size_t size = libdeflate_zlib_compress(worker.Compressor.get(), worker.Tile.data(),
                                                     worker.Tile.size() * sizeof(T), worker.Scratch.data(),
                                                     worker.Scratch.size());
        packed[l][t].assign(worker.Scratch.data(), worker.Scratch.data() + size);
      }
    };
    std::vector<std::thread> threads;
    try {
      for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work, std::ref(Workers[w]));
    } catch (const std::system_error&) {
      // Fewer threads: the tiles left are compressed below all the same.
    }
    work(Workers[0]);
    for (std::thread& thread : threads) thread.join();
    return packed;
  }

  void WriteTiles(TIFF* tif, const TTiles& tiles) {
    for (size_t i = 0; i < tiles.size(); ++i)
      if (tiles[i].empty() || TIFFWriteRawTile(tif, static_cast<uint32_t>(i), const_cast<uint8_t*>(tiles[i].data()),
                                               static_cast<tmsize_t>(tiles[i].size())) < 0)
        Failed();
  }

  // The tile at (x, y), filled out with no data past the level's edge, with
  // the TIFF predictor applied row by row: horizontal differences of 16-bit
  // integers (predictor 2), or of the bytes of 32-bit reals laid out in
  // planes, most significant first (predictor 3), in a little-endian file.
  void Predict(const TLevel<T>& level, uint32_t x, uint32_t y, std::vector<T>& tile) const {
    std::fill(tile.begin(), tile.end(), static_cast<T>(kTiffNoData));
    const uint32_t w = std::min(Tile, level.Width - x), h = std::min(Tile, level.Height - y);
    for (uint32_t r = 0; r < h; ++r) {
      const T* from = level.Cells + size_t{y + r} * level.Width + x;
      T* to = tile.data() + size_t{r} * Tile;
      for (uint32_t i = 0; i < w; ++i) to[i] = Value(from[i]);
    }
    for (uint32_t r = 0; r < Tile; ++r) {
      T* row = tile.data() + size_t{r} * Tile;
      if constexpr (std::is_floating_point_v<T>) {
        uint8_t planes[4 * 512];
        const auto* bytes = reinterpret_cast<const uint8_t*>(row);
        for (uint32_t i = 0; i < Tile; ++i)
          for (uint32_t b = 0; b < 4; ++b) planes[(3 - b) * Tile + i] = bytes[4 * i + b];
        for (uint32_t i = 4 * Tile - 1; i > 0; --i) planes[i] = static_cast<uint8_t>(planes[i] - planes[i - 1]);
        std::memcpy(row, planes, 4 * Tile);
      } else {
        for (uint32_t i = Tile - 1; i > 0; --i) row[i] = static_cast<T>(static_cast<uint16_t>(row[i] - row[i - 1]));
      }
    }
  }

  const TConversionState& State;
  const std::string& Path;
  const TTiffLayout Layout;
  const uint32_t Tile;
  TMemoryFile File;
  std::string Error;
  // What each compressing thread keeps from level to level: its
  // compressor's tables, the tile and room for its compressed bytes,
  // which new ones would fault in again (2,900 page faults for a 1201 x
  // 1201 COG against 400 for its DEM).
  struct TWorker {
    TWorker(uint32_t tile, int level)
        : Compressor(libdeflate_alloc_compressor(level), libdeflate_free_compressor), Tile(size_t{tile} * tile) {
      if (!Compressor) throw std::bad_alloc();
      Scratch.resize(libdeflate_zlib_compress_bound(Compressor.get(), Tile.size() * sizeof(T)));
    }
    std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> Compressor;
    std::vector<T> Tile;
    std::vector<uint8_t> Scratch;
  };
  std::deque<TWorker> Workers;
};

// The transfer's cells unchanged.
template <class T>
TLevel<T> FullLevel(const TElevationGrid& grid, const TMappedArray<T>& raw) {
  TLevel<T> level;
  level.Width = static_cast<uint32_t>(grid.ColCount);
  level.Height = static_cast<uint32_t>(grid.RowCount);
  level.Cells = raw.data();
  return level;
}

}  // namespace

int ProjectedEpsgCode(const TSdtsInfo& info) {
  if (info.Zone < 1 || info.Zone > 60) Fail("The UTM zone " + std::to_string(info.Zone) + " is not one of 1 to 60");
  const std::pair<const char*, int> datums[] = {{"NAS", 26700}, {"NAX", 26900}, {"WGS84", 32600}, {"WGS72", 32200}};
  for (const auto& [name, base] : datums)
    if (info.DatumName == name) return base + info.Zone;
  Fail("The horizontal datum '" + info.DatumName + "' has no EPSG code for a GeoTIFF (NAS, NAX, WGS84 and WGS72 have)");
}

void WriteGeoTiff(const TConversionState& state, const std::string& path, TTiffLayout layout, bool sync,
                  IProgress& progress) {
  const TElevationGrid& grid = state.Grid;
  ProjectedEpsgCode(state.Info);  // before any file is created
  TFileSink sink(path, sync, false);  // the bytes come in one piece
  std::string bytes;
  if (!grid.RawFloat.empty()) {
    bytes = TTiffWriter<float>(state, path, layout).Write(FullLevel(grid, grid.RawFloat), progress);
  } else {
    bytes = TTiffWriter<int16_t>(state, path, layout).Write(FullLevel(grid, grid.RawInt16), progress);
  }
  sink.Write(bytes.data(), bytes.size());
  sink.Commit();
}

}  // namespace veloran
